// The interface every service of the QQ Zone family implements, and what a fetcher may use while
// it runs. A fetcher turns a target into album records and an album into picture references; it
// knows nothing of naming, folders or downloads.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <stop_token>

#include "core/Backoff.h"
#include "net/Clock.h"
#include "core/ExtSettings.h"
#include "core/FilmAddress.h"
#include "core/JobObserver.h"
#include "core/JobRequests.h"
#include "core/MoodPost.h"
#include "core/PictureRef.h"
#include "net/URLSource2.h"

namespace qm {

class AlbumSink {
public:
    virtual ~AlbumSink() = default;
    virtual void Album(const ST_PERLISTRECORD& rec) = 0;
    virtual std::size_t Count() const = 0;
};

class PictureSink {
public:
    virtual ~PictureSink() = default;
    // Takes one picture; false when the album wants no more (its history reached, or a stop).
    virtual bool Picture(const PictureRef& picture) = 0;
    // The same for a picture the fetcher no longer needs: a sink that keeps it may take it over
    // instead of copying it.
    virtual bool TakePicture(PictureRef&& picture) { return Picture(picture); }
    virtual std::size_t Count() const = 0;
    // The listing of this album was ended by the sink (history) or a stop.
    virtual bool Ended() const = 0;
    // Takes the words of one mood post (the mood pseudo-album only), after its pictures.
    virtual void Post(MoodPost post) { (void)post; }
};

struct QZoneRoute {
    Text photoHost;  // host of the photo-list interface (QQ group, Weibo: the login number)
    Text viewHost;   // host of the view-album interface
};

// What a fetcher works with. The album list fills `route` and `weiboId`; the photo lists read them
// (carried from the list to the download by the fetcher's SaveState and LoadState).
struct SiteContext {
    SiteContext(JobObserver& obs, Clock& c) : observer(&obs), clock(&c) {}

    JobObserver* observer;
    Clock* clock;
    std::stop_token stop;
    ExtSettings ext;
    Text programFolder;  // with a trailing separator; the Q2.txt marker lives there
    Text target;         // the typed target, for the Referer of the photo lists
    QZoneRoute route;
    Text weiboId;
    // Set by an album-list fetcher that ended on a refusal or a network failure.
    ListReason reason = ListReason::None;
    std::string reasonText;
    // The album whose password was asked for (its list parameter): asked once per album, however
    // many interfaces list it.
    Text passwordAskedFor;
    // Time spent waiting out the service's rate limit.
    std::chrono::milliseconds rateLimitWaited{0};
    // The job's back-off, shared by every request of the job; null: each paced fetch makes its own.
    Backoff* backoff = nullptr;

    bool Stopped() const { return stop.stop_requested(); }
};

class Fetcher {
public:
    virtual ~Fetcher() = default;
    // Reduces a typed target to what the service knows (a number, an id); false when it cannot
    // name one, with the notice to show in `notice`.
    virtual bool ReduceTarget(const Text& typed, Text& reduced, Notice& notice) const = 0;
    // Appends the albums of the reduced target to `sink`.
    virtual void ListAlbums(SiteContext& ctx, const Text& target, AlbumSink& sink) = 0;
    // Hands every picture of one album to `sink`, until it says no more. Sets ctx.reason (and
    // ctx.reasonText) when a page could not be read, so that the album is known to be cut short.
    virtual void ListPictures(SiteContext& ctx, const ST_PERLISTRECORD& album, PictureSink& sink) = 0;
    // Asks where the film of a video item (`item.isVideo`) of `album` is, right before it is
    // downloaded. Called from the transfer's threads once the listing is over: it only reads `ctx`.
    virtual FilmAddress LookUpFilm(const SiteContext& ctx, const ST_PERLISTRECORD& album,
                                   const PictureRef& item) const {
        (void)ctx;
        (void)album;
        (void)item;
        FilmAddress none;
        none.failure = Failure{FailureKind::Other, 0, "this service has no films"};
        return none;
    }
    // What the album list learned that the photo lists need (by default the route and the Weibo
    // id of the context), and the same put back into a context.
    virtual std::shared_ptr<const ServiceState> SaveState(const SiteContext& ctx) const;
    virtual void LoadState(SiteContext& ctx, const ServiceState* state) const;
};

// The state SaveState keeps by default.
struct ListedState final : ServiceState {
    QZoneRoute route;
    Text weiboId;
};

// Performs one request; while the service answers that requests come too fast (429, 503, a busy
// code or text), waits out the job's back-off (30, 60, 120 and 240 s for list pages) with a
// countdown to the observer and asks the same page again. False when the fetch failed, the back-off
// gave up (ctx.reason becomes RateLimited) or a stop ended the wait. An answer that asks for a
// login sets ctx.reason to LoginNeeded and is handed back like any answer.
bool FetchPaced(SiteContext& ctx, ST_URLREQUEST& req, ST_URLRESPONSE& resp);


}  // namespace qm

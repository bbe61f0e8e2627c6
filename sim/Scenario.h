// The scenario model: the JSON scenario file read into owners, albums, pictures, groups and Weibo
// accounts, with every picture's published addresses (as the answers write them) and the one address
// the simulator serves it at (what a client derives from the published ones).
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "sim/TextCache.h"

namespace qm::sim {

struct Picture {
    std::string id, name, desc, format;
    size_t size = 0;
    // Published addresses, with plain slashes (the answer writer escapes them). Empty when absent.
    std::string raw, originUrl, pre;  // QZone album pictures
    int rawUpload = 0;                // QZone "raw_upload"
    std::string rawurl, hdurl, burl;  // QQ group photos
    std::string smallurl;             // mood pictures
    std::string url;                  // Weibo pictures
    std::string served;               // http://host/target the bytes are served at
    std::string fallbackServed;       // QZone: the "pre" address after its replacement
    long long time = 0;               // upload time (seconds)
    // A QZone video item: the picture above is its cover; the film is asked for through the
    // float-view interface. `film` is empty for a plain picture.
    struct Film {
        std::string state = "ready";  // ready | not_ready | stream_only | gone
        size_t size = 0;
        int goneStatus = 403;         // what the film host answers for a gone film
        std::string download;         // the signed download address (http://host/path?vkey=...)
        std::string play;             // the online play address
    };
    bool video = false;
    Film film;
    // Today's QZone shape: "pre" names the medium form ("/m&bo="), "url" the big one ("/b&bo="),
    // "raw" and "origin_url" are empty, the picture carries its shoot time and an exif object.
    bool today = false;
    std::string bigUrl;               // today's "url"
    std::string shoot;                // "rawshoottime" text (China time), empty: 0
    std::string exifTime;             // exif "originalTime" text, empty: no exif object
    bool broken = false;              // its description holds bytes that break the page's JSON
};

struct Album {
    std::string id, name, desc, password;
    int priv = 1;  // as the service writes it: 1 open, 3 private, 4 and 6 friends, 5 password
    std::vector<std::string> viewers;  // QQ numbers allowed to see a friends album
    long long createtime = 0;
    std::string cover;  // published and served cover address
    std::vector<Picture> pictures;
    bool topic = false;  // the photo list ends with a "topic" object after the pictures
};

struct MoodComment {
    std::string name, uin, text;
    long long time = 0;
    std::vector<MoodComment> replies;  // list_3 of a comment
};

struct Mood {
    std::string tid, text, forward;
    long long createtime = 0;
    size_t cut = 0;  // the list shows the first `cut` characters and marks the text as cut; 0 whole
    std::string placeName, placeIdname, placeX, placeY;  // lbs; empty: no place
    long long forwards = 0;
    int secret = 0, right = 1;
    std::vector<MoodComment> comments;
    std::vector<Picture> pictures;
};

struct Owner {
    std::string uin;
    std::string space = "open";  // open | friends | private: who may list the albums and moods
    std::vector<std::string> friends;
    std::string route = "xa";   // the default route entry of the route answer: sz | xa
    std::string idcno = "102";  // empty: the route answer carries no idcno
    std::vector<Album> albums;
    std::vector<Mood> moods;
};

struct GroupAlbum {
    std::string id, title, desc, createtime;
    std::string cover;
    std::vector<Picture> photos;
};

struct Group {
    std::string id, name;
    std::vector<std::string> members;
    std::vector<GroupAlbum> albums;
};

struct WeiboPost {
    std::string id, text, forward;
    long long realtime = 0;
    std::vector<Picture> pictures;
};

struct WeiboAlbum {
    std::string name, type, topicid;
    std::string cover;  // published first image address (the served cover adds "/240")
    std::vector<WeiboPost> posts;
    size_t PictureCount() const;
};

struct WeiboAccount {
    std::string name, uin;
    std::vector<WeiboAlbum> albums;
};

struct Account {
    std::string uin, password, nick, skey, pskey;
};

struct FaultRule {
    std::string match;  // substring of "host" + target; empty matches every request
    long long delayMs = 0;
    long long stallAfter = -1;  // bytes of the body sent before the stall; -1 off
    long long stallMs = 30000;
    bool reset = false;
    long long truncate = -1;       // bytes of the body sent before the connection closes; -1 off
    long long contentLength = -1;  // Content-Length claimed instead of the true one; -1 off
    bool corruptGzip = false;
    bool gzip = false;       // the body goes out gzip-compressed whatever the request accepts
    long long dripMs = -1;   // the body goes out one byte per this many ms; -1 off
    bool setCookie = false;  // each answer sets a new persistent cookie on its host
    std::string header;      // one extra "Name: value" header line of the answer
    std::optional<std::string> body;  // answered (status 200) instead of the service's answer
    int status = 0;
    long long rateLimitFirst = 0;  // the rate-limit answer for the first N matching requests
    double probability = 1.0;
    unsigned long long seed = 1;
    long long first = -1;  // only the first N matching requests; -1 all
    bool ignoreRange = false;  // a film answer gives the whole film whatever Range asks
    std::string etag;          // a film answer names this validator instead of its own
    // With rate_limit_first: answer today's busy refusal with this code (-10001 or -10083, HTTP 200)
    // instead of the rate-limit text.
    int busyCode = 0;
    // A host that serves at most this many requests a second (a token bucket of `burst`), and
    // answers 429 beyond it, naming Retry-After when `retryAfter` is 0 or more. 0: no limit.
    double ratePerSecond = 0;
    double burst = 0;
    long long retryAfter = -1;
};

// A served film: the bytes the film host gives for an address (the signature in the query aside).
struct ServedFilm {
    std::string id;
    std::string address;  // the signed download address
    size_t size = 0;
    int status = 200;  // not 200: the film is gone and the host answers this status
};

// A served picture: what PictureBytes() makes for an address.
struct ServedPicture {
    std::string id, format;
    size_t size = 0;
};

// What a service of the simulator's table keeps of its own part of a scenario.
struct ServiceData {
    virtual ~ServiceData() = default;
};

struct ScenarioModel {
    std::vector<Account> accounts;
    std::vector<Owner> owners;
    std::vector<Group> groups;
    std::vector<WeiboAccount> weibo;
    std::vector<FaultRule> faults;
    std::string rateLimitText = "对不起，您的操作过于频繁，请稍后再试";
    std::map<std::string, ServedPicture> servedByAddress;  // "host" + target
    std::map<std::string, ServedPicture> servedById;
    std::map<std::string, std::string> addressById;  // id -> http://host/target
    std::map<std::string, ServedFilm> filmsByPath;   // "host" + path of the download address
    // The parts of the scenario that services of the table read themselves, by the row's name.
    std::map<std::string, std::shared_ptr<const ServiceData>> services;
    // The photo-list pages already built, by owner, album, range, interface and callback. The model
    // does not change once built, so a page stays true for as long as the model lives.
    std::shared_ptr<TextCache> listPages = std::make_shared<TextCache>(size_t{128} << 20);

    const Account* FindAccount(const std::string& uin) const;
    const Owner* FindOwner(const std::string& uin) const;
    const Group* FindGroup(const std::string& id) const;
    const WeiboAccount* FindWeiboByName(const std::string& name) const;
    const WeiboAccount* FindWeiboByUin(const std::string& uin) const;
    // A table service's own part of the scenario; null when the scenario has none.
    template <typename T>
    const T* Service(const std::string& name) const {
        const auto it = services.find(name);
        return it == services.end() ? nullptr : dynamic_cast<const T*>(it->second.get());
    }
};

// Reads and checks a scenario; fills derived values (generated pictures, cookie values of accounts)
// back into `json` so that tests see them. Throws std::runtime_error naming the bad entry.
ScenarioModel BuildScenario(nlohmann::json& json);

// A QQ number as the services read it: an optional letter o, then digits, leading zeros ignored.
// Empty when the text is not such a number.
std::string NormalizeUin(const std::string& text);

}  // namespace qm::sim

// What one simulated service answer is made of, and the request as the answer builders see it.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/Scenario.h"

namespace qm::sim {

struct Answer {
    int status = 200;
    std::string contentType = "application/x-javascript; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    bool compressible = true;  // text answers are gzipped when the request accepts it
    // When set, this key always comes with this body: its compressed form may be kept under it
    // instead of under a checksum of the body.
    std::string cacheKey;
    // Large bytes shared with the simulator's cache instead of `body` (films).
    std::shared_ptr<const std::string> shared;
    // A film: Range requests are honoured (206 from the asked offset) unless If-Range names
    // another validator than `etag`.
    bool ranged = false;
    std::string etag;
};

// Who sends the request, read from its cookies.
struct Viewer {
    std::string uin;          // from the uin (or p_uin) cookie; empty when absent
    bool loggedIn = false;    // the cookies carry a key that login issued for that number
    std::string skey, pskey;  // cookie values; empty when absent
    bool hasPskey = false;
};

struct SimRequest {
    std::string method, host, path, target, query;
    std::map<std::string, std::string> params;  // decoded query (and form) values; first one wins
    std::map<std::string, std::string> cookies;
    std::map<std::string, std::string> headers;  // lower-case names
    Viewer viewer;
    std::string Param(const std::string& key) const {
        auto it = params.find(key);
        return it == params.end() ? std::string() : it->second;
    }
};

// Shared state the answers may change: album passwords entered per login.
class PasswordBook {
public:
    virtual ~PasswordBook() = default;
    virtual bool Unlocked(const Viewer& v, const std::string& albumId) const = 0;
    virtual void Unlock(const Viewer& v, const std::string& albumId) = 0;
};

// The JSONP wrapper name of a request: callback=, else callbackFun= plus "_Callback", else "_Callback".
std::string CallbackName(const SimRequest& r);
std::string Jsonp(const SimRequest& r, const std::string& json);
unsigned long long ParseToken(const std::string& text, bool& ok);

// Service answers, one family per file.
Answer RouteAnswer(const ScenarioModel& m, const SimRequest& r);
Answer AlbumListAnswer(const ScenarioModel& m, const SimRequest& r, bool v3);
Answer PhotoListAnswer(const ScenarioModel& m, const SimRequest& r, const PasswordBook& pw, bool viewAlbum);
Answer AlbumPageAnswer(const ScenarioModel& m, const SimRequest& r, PasswordBook& pw, const std::string& uin,
                       const std::string& albumId);
Answer HomePageAnswer(const ScenarioModel& m, const SimRequest& r);
Answer MoodAnswer(const ScenarioModel& m, const SimRequest& r);
Answer MoodDetailAnswer(const ScenarioModel& m, const SimRequest& r);
Answer FloatViewAnswer(const ScenarioModel& m, const SimRequest& r, const PasswordBook& pw);
// The film host wants a Referer of a QZone page.
bool FilmRequestAllowed(const SimRequest& r);
Answer GroupAlbumsAnswer(const ScenarioModel& m, const SimRequest& r);
Answer GroupPhotosAnswer(const ScenarioModel& m, const SimRequest& r);
Answer WeiboPageAnswer(const ScenarioModel& m, const SimRequest& r, const std::string& name);
Answer WeiboTopicAnswer(const ScenarioModel& m, const SimRequest& r);
Answer LoginFormAnswer(const SimRequest& r, const std::string& error);
Answer LoginSubmitAnswer(const ScenarioModel& m, const SimRequest& r);
Answer CheckSigAnswer(const ScenarioModel& m, const SimRequest& r);
// The rate-limit refusal in the style of the interface the request is for.
Answer RateLimitAnswer(const ScenarioModel& m, const SimRequest& r);
// Today's busy refusal, HTTP 200: -10001 (the photo service) or -10083 (mood and other services).
Answer BusyAnswer(const SimRequest& r, int code);
Answer NotFoundAnswer();
Answer HtmlAnswer(int status, const std::string& title, const std::string& bodyHtml);
std::string HtmlEscape(const std::string& text);

}  // namespace qm::sim

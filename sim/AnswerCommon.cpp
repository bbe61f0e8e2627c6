// Pieces shared by every simulated service: JSONP wrappers, tokens, HTML pages, refusals.
#include <cctype>

#include "sim/Answer.h"
#include "sim/JsonText.h"
#include "sim/Simulator.h"

namespace qm::sim {

unsigned QZoneToken(const std::string& key) {
    // The key is hashed per UTF-16 code unit; cookie values are ASCII, where bytes and units agree.
    // Other UTF-8 text is decoded first.
    uint32_t h = 5381;
    for (size_t i = 0; i < key.size();) {
        unsigned char c = static_cast<unsigned char>(key[i]);
        uint32_t cp = c;
        size_t extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra > 0 && i + extra < key.size()) {
            cp = c & (0x3F >> extra);
            for (size_t k = 1; k <= extra; ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(key[i + k]) & 0x3F);
        } else {
            extra = 0;
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            h = h * 33 + (0xD800 + (cp >> 10));
            h = h * 33 + (0xDC00 + (cp & 0x3FF));
        } else {
            h = h * 33 + cp;
        }
    }
    return h & 0x7fffffffu;
}

unsigned long long ParseToken(const std::string& text, bool& ok) {
    ok = !text.empty() && text.size() <= 19;
    unsigned long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            ok = false;
            return 0;
        }
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    return v;
}

std::string CallbackName(const SimRequest& r) {
    auto clean = [](const std::string& s) {
        std::string out;
        for (char c : s) {
            if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.') out += c;
        }
        return out.substr(0, 64);
    };
    std::string name = clean(r.Param("callback"));
    if (!name.empty()) return name;
    name = clean(r.Param("callbackFun"));
    if (!name.empty()) return name + "_Callback";
    return "_Callback";
}

std::string Jsonp(const SimRequest& r, const std::string& json) {
    return CallbackName(r) + "(" + json + ");";
}

std::string HtmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

Answer HtmlAnswer(int status, const std::string& title, const std::string& bodyHtml) {
    Answer a;
    a.status = status;
    a.contentType = "text/html; charset=utf-8";
    a.body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + HtmlEscape(title) +
             "</title></head>\n<body>\n" + bodyHtml + "\n</body></html>\n";
    return a;
}

Answer NotFoundAnswer() {
    Answer a = HtmlAnswer(404, "404 Not Found", "<h1>404 Not Found</h1>");
    a.compressible = false;
    return a;
}

Answer BusyAnswer(const SimRequest& r, int code) {
    const bool photo = code == -10001;
    const std::string message =
        photo ? "抱歉，当前使用相册服务的用户过多，请您稍后再试。" : "使用人数过多，请稍后再试";
    OJson j = {{"code", code},
               {"subcode", photo ? -1 : -1998},
               {"message", message},
               {"notice", 0},
               {"time", 1637000000},
               {"tips", "C3AA-0012"}};
    Answer a;
    a.body = Jsonp(r, WriteJson(j, {false, false}));
    return a;
}

Answer RateLimitAnswer(const ScenarioModel& m, const SimRequest& r) {
    Answer a;
    if (r.path.find("fcg_list_album") != std::string::npos) {
        OJson j = {
            {"code", -10000}, {"message", m.rateLimitText}, {"msg", m.rateLimitText}, {"subcode", -10000}};
        a.body = Jsonp(r, "\n" + WriteJson(j, {true, false}) + "\n");
    } else if (r.host == "api.t.qq.com") {
        OJson j = {{"result", -10000}, {"msg", m.rateLimitText}};
        a.body = WriteJson(j, {false, true});
    } else {
        OJson j = {
            {"code", -10000}, {"subcode", -10000}, {"message", m.rateLimitText}, {"msg", m.rateLimitText}};
        a.body = Jsonp(r, WriteJson(j, {false, false}));
    }
    return a;
}

}  // namespace qm::sim

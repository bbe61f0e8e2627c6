#include "sites/MoodPostParse.h"

#include <nlohmann/json.hpp>

#include "net/JsonDepth.h"

namespace qm {

namespace {

using nlohmann::json;

// A well-formed answer nests some six levels (answer, msglist, post, commentlist, comment, list_3,
// reply); brackets nested far deeper are refused before the parser holds them.
constexpr int kMaxDepth = 32;

// The JSON object inside a JSONP wrapper ("_Callback({...});"), parsed; null when there is none.
json ParseAnswer(TextView body) {
    const std::string text = ToUtf8(body);
    const std::size_t open = text.find('{');
    const std::size_t close = text.rfind('}');
    if (open == std::string::npos || close == std::string::npos || close < open) return json();
    const std::string_view inner(text.data() + open, close - open + 1);
    if (!JsonNestsAtMost(inner, kMaxDepth)) return json();
    json doc = json::parse(inner.begin(), inner.end(), nullptr, /*allow_exceptions=*/false);
    return doc.is_object() ? doc : json();
}

// A field as text whether the service wrote a string or a number.
Text TextOf(const json& o, const char* key) {
    const auto it = o.find(key);
    if (it == o.end()) return {};
    if (it->is_string()) return FromUtf8(it->get_ref<const std::string&>());
    if (it->is_number_integer()) return FromUtf8(std::to_string(it->get<int64_t>()));
    if (it->is_number_unsigned()) return FromUtf8(std::to_string(it->get<uint64_t>()));
    if (it->is_number_float()) return FromUtf8(it->dump());
    return {};
}

// A field as a number whether written as a number or as a text of digits; `fallback` otherwise.
int64_t NumberOf(const json& o, const char* key, int64_t fallback = 0) {
    const auto it = o.find(key);
    if (it == o.end()) return fallback;
    if (it->is_number_integer()) return it->get<int64_t>();
    if (it->is_number_unsigned()) {
        const uint64_t v = it->get<uint64_t>();
        return v > static_cast<uint64_t>(INT64_MAX) ? fallback : static_cast<int64_t>(v);
    }
    if (it->is_number_float()) return static_cast<int64_t>(it->get<double>());
    if (it->is_string()) {
        const std::string& s = it->get_ref<const std::string&>();
        if (s.empty() || s.size() > 18) return fallback;
        int64_t v = 0;
        std::size_t i = s[0] == '-' ? 1 : 0;
        if (i == s.size()) return fallback;
        for (; i < s.size(); ++i) {
            if (s[i] < '0' || s[i] > '9') return fallback;
            v = v * 10 + (s[i] - '0');
        }
        return s[0] == '-' ? -v : v;
    }
    return fallback;
}

int32_t Count(const json& o, const char* key) {
    const int64_t v = NumberOf(o, key);
    return v < 0 ? 0 : v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
}

const json* ArrayAt(const json& o, const char* key) {
    const auto it = o.find(key);
    return it != o.end() && it->is_array() ? &*it : nullptr;
}

MoodComment ReadComment(const json& c, bool withReplies) {
    MoodComment out;
    out.name = TextOf(c, "name");
    out.uin = ToUtf8(TextOf(c, "uin"));
    out.text = TextOf(c, "content");
    out.time = NumberOf(c, "create_time");
    out.timeText = TextOf(c, "createTime");
    if (const json* replies = withReplies ? ArrayAt(c, "list_3") : nullptr) {
        for (const json& r : *replies) {
            if (out.replies.size() >= kMaxRepliesPerComment) break;
            if (r.is_object()) out.replies.push_back(ReadComment(r, false));
        }
    }
    return out;
}

std::optional<MoodPost> ReadPost(const json& p) {
    if (!p.is_object()) return std::nullopt;
    MoodPost post;
    post.id = ToUtf8(TextOf(p, "tid"));
    if (post.id.empty()) return std::nullopt;
    post.text = TextOf(p, "content");
    post.time = NumberOf(p, "created_time");
    post.timeText = TextOf(p, "createTime");
    post.textCut = NumberOf(p, "has_more_con") != 0;
    if (const auto lbs = p.find("lbs"); lbs != p.end() && lbs->is_object()) {
        post.place.name = TextOf(*lbs, "name");
        post.place.idname = TextOf(*lbs, "idname");
        post.place.x = TextOf(*lbs, "pos_x");
        post.place.y = TextOf(*lbs, "pos_y");
    }
    if (const auto rt = p.find("rt_con"); rt != p.end()) {
        if (rt->is_object())
            post.repost = TextOf(*rt, "content");
        else if (rt->is_string())
            post.repost = FromUtf8(rt->get_ref<const std::string&>());
    }
    const json* pics = ArrayAt(p, "pic");
    post.pictureTotal = p.contains("pictotal") ? Count(p, "pictotal")
                                               : static_cast<int32_t>(pics ? std::min<std::size_t>(pics->size(), INT32_MAX) : 0);
    post.commentCount = Count(p, "cmtnum");
    post.forwardCount = Count(p, "fwdnum");
    post.secret = static_cast<int32_t>(NumberOf(p, "secret"));
    post.right = static_cast<int32_t>(NumberOf(p, "right"));
    if (const json* comments = ArrayAt(p, "commentlist")) {
        for (const json& c : *comments) {
            if (post.comments.size() >= kMaxCommentsPerPost) break;
            if (c.is_object()) post.comments.push_back(ReadComment(c, true));
        }
    }
    return post;
}

}  // namespace

std::vector<MoodPost> ParseMoodList(TextView body) {
    std::vector<MoodPost> out;
    const json doc = ParseAnswer(body);
    if (!doc.is_object()) return out;
    const json* list = ArrayAt(doc, "msglist");
    if (!list) return out;
    for (const json& p : *list) {
        if (out.size() >= kMaxPostsPerAnswer) break;
        if (auto post = ReadPost(p)) out.push_back(std::move(*post));
    }
    return out;
}

std::optional<MoodPost> ParseMoodDetail(TextView body) {
    const json doc = ParseAnswer(body);
    if (!doc.is_object()) return std::nullopt;
    if (const json* list = ArrayAt(doc, "msglist"); list && !list->empty()) return ReadPost(list->front());
    return ReadPost(doc);
}

}  // namespace qm

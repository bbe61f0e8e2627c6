#include "download/AlbumJson.h"

#include <ctime>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>

#include "net/FileUtil.h"
#include "net/JsonDepth.h"

namespace qm {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

// The nesting a well-formed file has is 3 (object, pictures array, picture object).
constexpr int kMaxDepth = 16;

std::string Str(const json& o, const char* key) {
    auto it = o.find(key);
    return it != o.end() && it->is_string() ? it->get<std::string>() : std::string();
}
Text Txt(const json& o, const char* key) {
    return FromUtf8(Str(o, key));
}

template <typename T>
T Num(const json& o, const char* key, T fallback) {
    auto it = o.find(key);
    if (it == o.end() || !it->is_number()) return fallback;
    if (it->is_number_float()) return fallback;
    if (it->is_number_unsigned()) {
        const auto v = it->get<uint64_t>();
        return v <= static_cast<uint64_t>(std::numeric_limits<T>::max()) ? static_cast<T>(v) : fallback;
    }
    const auto v = it->get<int64_t>();
    if (v < static_cast<int64_t>(std::numeric_limits<T>::min())) return fallback;
    if (v > 0 && static_cast<uint64_t>(v) > static_cast<uint64_t>(std::numeric_limits<T>::max()))
        return fallback;
    return static_cast<T>(v);
}

// The document through the JSON library, which replaces bytes that are not UTF-8.
std::string AlbumJsonTextGeneric(const AlbumJson& a) {
    ordered_json pictures = ordered_json::array();
    for (const AlbumJsonPicture& p : a.pictures) {
        pictures.push_back({{"file", ToUtf8(p.file)},
                            {"title", ToUtf8(p.title)},
                            {"description", ToUtf8(p.description)},
                            {"main", ToUtf8(p.main)},
                            {"alternate", ToUtf8(p.alternate)},
                            {"shot", p.shot},
                            {"uploaded", p.uploaded},
                            {"size", p.size},
                            {"sha256", p.sha256},
                            {"state", p.state},
                            {"reason", p.reason}});
        if (p.video)
            pictures.back()["video"] = {{"file", ToUtf8(p.video->file)},   {"size", p.video->size},
                                        {"sha256", p.video->sha256},       {"state", p.video->state},
                                        {"reason", p.video->reason},       {"play", ToUtf8(p.video->play)}};
    }
    ordered_json doc = {{"format", 1},
                        {"target", {{"kind", a.kind}, {"id", ToUtf8(a.targetId)}}},
                        {"album",
                         {{"id", ToUtf8(a.albumId)},
                          {"name", ToUtf8(a.name)},
                          {"privacy", ToUtf8(a.privacy)},
                          {"folder", ToUtf8(a.folder)},
                          {"expected", a.expected},
                          {"listed", a.listed},
                          {"saved", a.saved},
                          {"already_had", a.alreadyHad},
                          {"failed", a.failed},
                          {"not_tried", a.notTried},
                          {"not_listed", a.notListed},
                          {"complete", a.complete},
                          {"updated", a.updated}}},
                        {"pictures", std::move(pictures)}};
    if (a.videos > 0)
        doc["album"]["videos"] = {{"listed", a.videos},
                                  {"saved", a.videosSaved},
                                  {"already_had", a.videosAlreadyHad},
                                  {"failed", a.videosFailed},
                                  {"not_tried", a.videosNotTried}};
    // Reasons and hashes are ours, but a server's status text may carry any byte: never throw.
    return doc.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
}

// True when `s` is well-formed UTF-8 (no overlong forms, surrogates or code points past U+10FFFF).
bool WellFormedUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t n = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (i + n >= s.size()) return false;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if (cc < (k == 1 ? lo : 0x80) || cc > (k == 1 ? hi : 0xBF)) return false;
        }
        i += n + 1;
    }
    return true;
}

// Appends `s` as a JSON string the way the library writes it: quotes, backslashes and control
// characters escaped, everything else (slashes and non-ASCII too) as it is.
void AppendQuoted(std::string& out, std::string_view s) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    std::size_t run = 0;  // start of the bytes not yet appended
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(s, run, i - run);
        run = i + 1;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 0xF];
        }
    }
    out.append(s, run, std::string_view::npos);
    out += '"';
}

using TextList = std::initializer_list<const std::string*>;

}  // namespace

// Written directly (a re-run rewrites the file of thousands of pictures, and building a JSON value
// for each one cost more than the rest of that run's own work); the same bytes as the library's
// dump with an indent of one blank. Texts that are not UTF-8 take the library's way, which
// replaces their bad bytes.
std::string AlbumJsonText(const AlbumJson& a) {
    const std::string targetId = ToUtf8(a.targetId), albumId = ToUtf8(a.albumId), name = ToUtf8(a.name),
                      privacy = ToUtf8(a.privacy), folder = ToUtf8(a.folder);
    for (const std::string* t : TextList{&a.kind, &targetId, &albumId, &name, &privacy, &folder, &a.updated})
        if (!WellFormedUtf8(*t)) return AlbumJsonTextGeneric(a);

    std::string out;
    out.reserve(1024 + a.pictures.size() * 512);
    bool first = true;
    const auto key = [&](const char* indent, const char* k) {
        if (!first) out += ",\n";
        first = false;
        out += indent;
        out += '"';
        out += k;
        out += "\": ";
    };
    const auto text = [&](const char* indent, const char* k, std::string_view v) {
        key(indent, k);
        AppendQuoted(out, v);
    };
    const auto number = [&](const char* indent, const char* k, auto v) {
        key(indent, k);
        out += std::to_string(v);
    };
    out += "{\n";
    number(" ", "format", 1);
    key(" ", "target");
    out += "{\n";
    first = true;
    text("  ", "kind", a.kind);
    text("  ", "id", targetId);
    out += "\n }";
    key(" ", "album");
    out += "{\n";
    first = true;
    text("  ", "id", albumId);
    text("  ", "name", name);
    text("  ", "privacy", privacy);
    text("  ", "folder", folder);
    number("  ", "expected", a.expected);
    number("  ", "listed", a.listed);
    number("  ", "saved", a.saved);
    number("  ", "already_had", a.alreadyHad);
    number("  ", "failed", a.failed);
    number("  ", "not_tried", a.notTried);
    number("  ", "not_listed", a.notListed);
    key("  ", "complete");
    out += a.complete ? "true" : "false";
    text("  ", "updated", a.updated);
    if (a.videos > 0) {
        key("  ", "videos");
        out += "{\n";
        first = true;
        number("   ", "listed", a.videos);
        number("   ", "saved", a.videosSaved);
        number("   ", "already_had", a.videosAlreadyHad);
        number("   ", "failed", a.videosFailed);
        number("   ", "not_tried", a.videosNotTried);
        out += "\n  }";
    }
    out += "\n }";
    key(" ", "pictures");
    if (a.pictures.empty()) {
        out += "[]";
    } else {
        out += "[\n";
        std::string file, title, description, main, alternate, filmFile, play;
        for (std::size_t i = 0; i < a.pictures.size(); ++i) {
            const AlbumJsonPicture& p = a.pictures[i];
            file = ToUtf8(p.file);
            title = ToUtf8(p.title);
            description = ToUtf8(p.description);
            main = ToUtf8(p.main);
            alternate = ToUtf8(p.alternate);
            for (const std::string* t :
                 TextList{&file, &title, &description, &main, &alternate, &p.shot, &p.uploaded, &p.sha256, &p.state,
                          &p.reason})
                if (!WellFormedUtf8(*t)) return AlbumJsonTextGeneric(a);
            if (p.video) {
                filmFile = ToUtf8(p.video->file);
                play = ToUtf8(p.video->play);
                for (const std::string* t : TextList{&filmFile, &play, &p.video->sha256, &p.video->state,
                                                     &p.video->reason})
                    if (!WellFormedUtf8(*t)) return AlbumJsonTextGeneric(a);
            }
            if (i > 0) out += ",\n";
            out += "  {\n";
            first = true;
            text("   ", "file", file);
            text("   ", "title", title);
            text("   ", "description", description);
            text("   ", "main", main);
            text("   ", "alternate", alternate);
            text("   ", "shot", p.shot);
            text("   ", "uploaded", p.uploaded);
            number("   ", "size", p.size);
            text("   ", "sha256", p.sha256);
            text("   ", "state", p.state);
            text("   ", "reason", p.reason);
            if (p.video) {
                key("   ", "video");
                out += "{\n";
                first = true;
                text("    ", "file", filmFile);
                number("    ", "size", p.video->size);
                text("    ", "sha256", p.video->sha256);
                text("    ", "state", p.video->state);
                text("    ", "reason", p.video->reason);
                text("    ", "play", play);
                out += "\n   }";
            }
            out += "\n  }";
        }
        out += "\n ]";
    }
    out += "\n}\n";
    return out;
}

std::string ChinaTimeText(int64_t seconds) {
    if (seconds <= 0) return {};
    const std::time_t t = static_cast<std::time_t>(seconds + 8 * 3600);
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return {};
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S+08:00", &tm);
    return buf;
}

std::optional<AlbumJson> ParseAlbumJson(std::string_view text) {
    if (!JsonNestsAtMost(text, kMaxDepth)) return std::nullopt;
    const json doc = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (!doc.is_object()) return std::nullopt;
    if (Num<int64_t>(doc, "format", 1) > 1) return std::nullopt;  // written by a newer program

    AlbumJson a;
    static const json kEmpty = json::object();
    auto objectAt = [](const json& o, const char* key) -> const json& {
        auto it = o.find(key);
        return it != o.end() && it->is_object() ? *it : kEmpty;
    };
    const json& target = objectAt(doc, "target");
    a.kind = Str(target, "kind");
    a.targetId = Txt(target, "id");
    const json& album = objectAt(doc, "album");
    a.albumId = Txt(album, "id");
    a.name = Txt(album, "name");
    a.privacy = Txt(album, "privacy");
    a.folder = Txt(album, "folder");
    a.expected = Num<int32_t>(album, "expected", -1);
    a.listed = Num<size_t>(album, "listed", 0);
    a.saved = Num<size_t>(album, "saved", 0);
    a.alreadyHad = Num<size_t>(album, "already_had", 0);
    a.failed = Num<size_t>(album, "failed", 0);
    a.notTried = Num<size_t>(album, "not_tried", 0);
    a.notListed = Num<size_t>(album, "not_listed", 0);
    if (auto it = album.find("complete"); it != album.end() && it->is_boolean()) a.complete = it->get<bool>();
    a.updated = Str(album, "updated");
    const json& videos = objectAt(album, "videos");
    a.videos = Num<size_t>(videos, "listed", 0);
    a.videosSaved = Num<size_t>(videos, "saved", 0);
    a.videosAlreadyHad = Num<size_t>(videos, "already_had", 0);
    a.videosFailed = Num<size_t>(videos, "failed", 0);
    a.videosNotTried = Num<size_t>(videos, "not_tried", 0);

    if (auto it = doc.find("pictures"); it != doc.end() && it->is_array()) {
        a.pictures.reserve(it->size());
        for (const json& p : *it) {
            if (!p.is_object()) continue;
            AlbumJsonPicture pic;
            pic.file = Txt(p, "file");
            pic.title = Txt(p, "title");
            pic.description = Txt(p, "description");
            pic.main = Txt(p, "main");
            pic.alternate = Txt(p, "alternate");
            pic.shot = Str(p, "shot");
            pic.uploaded = Str(p, "uploaded");
            pic.size = Num<uint64_t>(p, "size", 0);
            pic.sha256 = Str(p, "sha256");
            pic.state = Str(p, "state");
            pic.reason = Str(p, "reason");
            if (auto v = p.find("video"); v != p.end() && v->is_object()) {
                AlbumJsonFilm film;
                film.file = Txt(*v, "file");
                film.size = Num<uint64_t>(*v, "size", 0);
                film.sha256 = Str(*v, "sha256");
                film.state = Str(*v, "state");
                film.reason = Str(*v, "reason");
                film.play = Txt(*v, "play");
                pic.video = std::move(film);
            }
            a.pictures.push_back(std::move(pic));
        }
    }
    return a;
}

bool WriteAlbumJson(const Text& albumFolder, const AlbumJson& album, std::string* error) {
    const std::filesystem::path target = PathFromText(albumFolder) / kAlbumJsonName;
    errno = 0;
    // Durable: titles and descriptions live nowhere else on this machine.
    if (WriteFileAtomic(target, AlbumJsonText(album), 0, /*durable=*/true)) return true;
    if (error) *error = errno ? std::strerror(errno) : "cannot write " + target.string();
    return false;
}

bool WriteAlbumJson(const HeldFolder& albumFolder, const AlbumJson& album, std::string* error) {
    errno = 0;
    if (WriteFileAtomic(albumFolder, kAlbumJsonName, AlbumJsonText(album), 0, /*durable=*/true)) return true;
    if (error) *error = errno ? std::strerror(errno) : std::string("cannot write ") + kAlbumJsonName;
    return false;
}

std::optional<AlbumJson> ReadAlbumJson(const Text& albumFolder) {
    std::string text;
    if (!ReadRegularFile(PathFromText(albumFolder) / kAlbumJsonName, text, kAlbumJsonMaxBytes, /*followLink=*/true))
        return std::nullopt;
    return ParseAlbumJson(text);
}

}  // namespace qm

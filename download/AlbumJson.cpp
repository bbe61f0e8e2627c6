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

// A picture's object through the JSON library.
ordered_json PictureJson(const AlbumJsonPicture& p) {
    ordered_json o = {{"file", ToUtf8(p.file)},
                      {"title", ToUtf8(p.title)},
                      {"description", ToUtf8(p.description)},
                      {"main", ToUtf8(p.main)},
                      {"alternate", ToUtf8(p.alternate)},
                      {"shot", p.shot},
                      {"uploaded", p.uploaded},
                      {"size", p.size},
                      {"sha256", p.sha256},
                      {"state", p.state},
                      {"reason", p.reason}};
    if (p.video)
        o["video"] = {{"file", ToUtf8(p.video->file)}, {"size", p.video->size},     {"sha256", p.video->sha256},
                      {"state", p.video->state},       {"reason", p.video->reason}, {"play", ToUtf8(p.video->play)}};
    return o;
}

// The document without its pictures through the JSON library.
ordered_json HeadJson(const AlbumJson& a) {
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
                          {"updated", a.updated}}}};
    if (a.videos > 0)
        doc["album"]["videos"] = {{"listed", a.videos},
                                  {"saved", a.videosSaved},
                                  {"already_had", a.videosAlreadyHad},
                                  {"failed", a.videosFailed},
                                  {"not_tried", a.videosNotTried}};
    return doc;
}

// The library's text of `value` with an indent of one blank. Reasons and hashes are ours, but a
// server's status text may carry any byte: the library replaces what is not UTF-8, never throws.
std::string LibraryText(const ordered_json& value) {
    return value.dump(1, ' ', false, json::error_handler_t::replace);
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

// Keys and values as the library writes them with an indent of one blank: a comma and a line
// break between the keys of one object.
class Emitter {
public:
    explicit Emitter(std::string& out) : out_(out) {}
    // Opens an object as the value of the key just written (or at the top).
    void Open() {
        out_ += "{\n";
        first_ = true;
    }
    void Key(const char* indent, const char* k) {
        if (!first_) out_ += ",\n";
        first_ = false;
        out_ += indent;
        out_ += '"';
        out_ += k;
        out_ += "\": ";
    }
    void String(const char* indent, const char* k, std::string_view v) {
        Key(indent, k);
        AppendQuoted(out_, v);
    }
    template <typename T>
    void Number(const char* indent, const char* k, T v) {
        Key(indent, k);
        out_ += std::to_string(v);
    }
private:
    std::string& out_;
    bool first_ = true;
};

// The head of the file, up to the value of "pictures". Written directly (a re-run rewrites the file
// of thousands of pictures, and building a JSON value for each one cost more than the rest of that
// run's own work); the same bytes as the library's dump. Texts that are not UTF-8 take the library's
// way, which replaces their bad bytes.
void AppendHead(std::string& out, const AlbumJson& a) {
    const std::string targetId = ToUtf8(a.targetId), albumId = ToUtf8(a.albumId), name = ToUtf8(a.name),
                      privacy = ToUtf8(a.privacy), folder = ToUtf8(a.folder);
    for (const std::string* t : TextList{&a.kind, &targetId, &albumId, &name, &privacy, &folder, &a.updated})
        if (!WellFormedUtf8(*t)) {
            std::string text = LibraryText(HeadJson(a));
            text.resize(text.size() - 2);  // the closing "\n}" comes after the pictures
            out += text;
            out += ",\n \"pictures\": ";
            return;
        }
    Emitter e(out);
    e.Open();
    e.Number(" ", "format", 1);
    e.Key(" ", "target");
    e.Open();
    e.String("  ", "kind", a.kind);
    e.String("  ", "id", targetId);
    out += "\n }";
    e.Key(" ", "album");
    e.Open();
    e.String("  ", "id", albumId);
    e.String("  ", "name", name);
    e.String("  ", "privacy", privacy);
    e.String("  ", "folder", folder);
    e.Number("  ", "expected", a.expected);
    e.Number("  ", "listed", a.listed);
    e.Number("  ", "saved", a.saved);
    e.Number("  ", "already_had", a.alreadyHad);
    e.Number("  ", "failed", a.failed);
    e.Number("  ", "not_tried", a.notTried);
    e.Number("  ", "not_listed", a.notListed);
    e.Key("  ", "complete");
    out += a.complete ? "true" : "false";
    e.String("  ", "updated", a.updated);
    if (a.videos > 0) {
        e.Key("  ", "videos");
        e.Open();
        e.Number("   ", "listed", a.videos);
        e.Number("   ", "saved", a.videosSaved);
        e.Number("   ", "already_had", a.videosAlreadyHad);
        e.Number("   ", "failed", a.videosFailed);
        e.Number("   ", "not_tried", a.videosNotTried);
        out += "\n  }";
    }
    out += "\n }";
    e.Key(" ", "pictures");
}

// One element of the pictures array, after the array's opening or the comma that separates it from
// the one before.
void AppendPicture(std::string& out, const AlbumJsonPicture& p, bool first) {
    out += first ? "[\n" : ",\n";
    const std::string file = ToUtf8(p.file), title = ToUtf8(p.title), description = ToUtf8(p.description),
                      main = ToUtf8(p.main), alternate = ToUtf8(p.alternate);
    std::string filmFile, play;
    bool wellFormed = true;
    for (const std::string* t : TextList{&file, &title, &description, &main, &alternate, &p.shot, &p.uploaded,
                                         &p.sha256, &p.state, &p.reason})
        wellFormed = wellFormed && WellFormedUtf8(*t);
    if (p.video) {
        filmFile = ToUtf8(p.video->file);
        play = ToUtf8(p.video->play);
        for (const std::string* t : TextList{&filmFile, &play, &p.video->sha256, &p.video->state, &p.video->reason})
            wellFormed = wellFormed && WellFormedUtf8(*t);
    }
    if (!wellFormed) {
        // The library's text of the object alone, indented as an element of the array (a line break
        // inside a JSON string is always escaped, so every one in the text is the layout's).
        out += "  ";
        for (const char c : LibraryText(PictureJson(p))) {
            out += c;
            if (c == '\n') out += "  ";
        }
        return;
    }
    Emitter e(out);
    out += "  ";
    e.Open();
    e.String("   ", "file", file);
    e.String("   ", "title", title);
    e.String("   ", "description", description);
    e.String("   ", "main", main);
    e.String("   ", "alternate", alternate);
    e.String("   ", "shot", p.shot);
    e.String("   ", "uploaded", p.uploaded);
    e.Number("   ", "size", p.size);
    e.String("   ", "sha256", p.sha256);
    e.String("   ", "state", p.state);
    e.String("   ", "reason", p.reason);
    if (p.video) {
        e.Key("   ", "video");
        e.Open();
        e.String("    ", "file", filmFile);
        e.Number("    ", "size", p.video->size);
        e.String("    ", "sha256", p.video->sha256);
        e.String("    ", "state", p.video->state);
        e.String("    ", "reason", p.video->reason);
        e.String("    ", "play", play);
        out += "\n   }";
    }
    out += "\n  }";
}

// The end of the pictures array (or an empty one) and of the file.
void AppendEnd(std::string& out, std::size_t pictures) {
    out += pictures > 0 ? "\n ]" : "[]";
    out += "\n}\n";
}

// The writer's buffer goes to the file once it holds this much.
constexpr std::size_t kFlushBytes = 64 * 1024;

}  // namespace

std::string AlbumJsonText(const AlbumJson& a) {
    std::string out;
    AppendHead(out, a);
    for (std::size_t i = 0; i < a.pictures.size(); ++i) AppendPicture(out, a.pictures[i], i == 0);
    AppendEnd(out, a.pictures.size());
    return out;
}

AlbumJsonWriter::AlbumJsonWriter(const Text& albumFolder)
    : file_(PathFromText(albumFolder) / kAlbumJsonName),
      name_((PathFromText(albumFolder) / kAlbumJsonName).string()) {}

AlbumJsonWriter::AlbumJsonWriter(const HeldFolder& albumFolder)
    : file_(albumFolder, kAlbumJsonName), name_(kAlbumJsonName) {}

bool AlbumJsonWriter::Begin(const AlbumJson& album) {
    errno = 0;
    if (!file_.Open()) {
        Fail();
        return false;
    }
    buffer_.reserve(kFlushBytes + 4096);
    AppendHead(buffer_, album);
    return true;
}

void AlbumJsonWriter::Add(const AlbumJsonPicture& picture) {
    if (!error_.empty() || !file_.IsOpen()) return;
    AppendPicture(buffer_, picture, pictures_++ == 0);
    if (buffer_.size() >= kFlushBytes) Flush();
}

bool AlbumJsonWriter::Commit(std::string* error) {
    if (error_.empty() && !file_.IsOpen()) {
        errno = 0;
        Fail();  // never begun
    }
    if (error_.empty()) {
        AppendEnd(buffer_, pictures_);
        if (Flush()) {
            errno = 0;
            if (!file_.Commit(/*durable=*/true)) Fail();
        }
    }
    if (error_.empty()) return true;
    file_.Discard();
    if (error) *error = error_;
    return false;
}

bool AlbumJsonWriter::Flush() {
    if (!error_.empty()) return false;
    errno = 0;
    if (!file_.Write(buffer_)) {
        Fail();
        return false;
    }
    buffer_.clear();
    return true;
}

void AlbumJsonWriter::Fail() {
    if (error_.empty()) error_ = errno ? std::strerror(errno) : "cannot write " + name_;
    buffer_.clear();
    buffer_.shrink_to_fit();
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

namespace {

bool WriteWhole(AlbumJsonWriter& writer, const AlbumJson& album, std::string* error) {
    if (writer.Begin(album))
        for (const AlbumJsonPicture& p : album.pictures) writer.Add(p);
    return writer.Commit(error);
}

}  // namespace

bool WriteAlbumJson(const Text& albumFolder, const AlbumJson& album, std::string* error) {
    AlbumJsonWriter writer(albumFolder);
    return WriteWhole(writer, album, error);
}

bool WriteAlbumJson(const HeldFolder& albumFolder, const AlbumJson& album, std::string* error) {
    AlbumJsonWriter writer(albumFolder);
    return WriteWhole(writer, album, error);
}

std::optional<AlbumJson> ReadAlbumJson(const Text& albumFolder) {
    std::string text;
    if (!ReadRegularFile(PathFromText(albumFolder) / kAlbumJsonName, text, kAlbumJsonMaxBytes, /*followLink=*/true))
        return std::nullopt;
    return ParseAlbumJson(text);
}

}  // namespace qm

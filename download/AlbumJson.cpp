#include "download/AlbumJson.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>

#include "net/FileUtil.h"

namespace qm {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

// The nesting a well-formed file has is 3 (object, pictures array, picture object).
constexpr int kMaxDepth = 16;

// A picture's object through the JSON library.
ordered_json PictureJson(const AlbumJsonPictureView& p) {
    ordered_json o = {{"file", ToUtf8(p.file)},
                      {"title", ToUtf8(p.title)},
                      {"description", ToUtf8(p.description)},
                      {"main", ToUtf8(p.main)},
                      {"alternate", ToUtf8(p.alternate)},
                      {"shot", std::string(p.shot)},
                      {"uploaded", std::string(p.uploaded)},
                      {"size", p.size},
                      {"sha256", std::string(p.sha256)},
                      {"state", std::string(p.state)},
                      {"reason", std::string(p.reason)}};
    if (p.video)
        o["video"] = {{"file", ToUtf8(p.video->file)},           {"size", p.video->size},
                      {"sha256", std::string(p.video->sha256)}, {"state", std::string(p.video->state)},
                      {"reason", std::string(p.video->reason)}, {"play", ToUtf8(p.video->play)}};
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
        // Eight bytes of ASCII at a time (digests, times and state words are nothing else).
        if (i + 8 <= s.size()) {
            uint64_t word;
            std::memcpy(&word, s.data() + i, 8);
            if ((word & 0x8080808080808080u) == 0) {
                i += 8;
                continue;
            }
        }
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

// The longest a text of `units` bytes or UTF-16 units can grow as a JSON string: six bytes each (a
// control character as \u00XX; no UTF-16 unit takes more than three in UTF-8) and the quotes.
constexpr std::size_t QuotedRoom(std::size_t units) {
    return 6 * units + 2;
}

// Writes ASCII `c` (below 0x20, a quote or a backslash) as the library escapes it.
char* PutEscape(char* o, unsigned c) {
    static const char kHex[] = "0123456789abcdef";
    *o++ = '\\';
    switch (c) {
        case '"':
            *o++ = '"';
            break;
        case '\\':
            *o++ = '\\';
            break;
        case '\b':
            *o++ = 'b';
            break;
        case '\f':
            *o++ = 'f';
            break;
        case '\n':
            *o++ = 'n';
            break;
        case '\r':
            *o++ = 'r';
            break;
        case '\t':
            *o++ = 't';
            break;
        default:
            *o++ = 'u';
            *o++ = '0';
            *o++ = '0';
            *o++ = kHex[c >> 4];
            *o++ = kHex[c & 0xF];
    }
    return o;
}

// Writes `s` at `o` as a JSON string the way the library writes it: quotes, backslashes and control
// characters escaped, everything else (slashes and non-ASCII too) as it is. `o` has room for
// QuotedRoom(s.size()) bytes; returns the end of what was written.
char* PutQuoted(char* o, std::string_view s) {
    *o++ = '"';
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c != '"' && c != '\\')
            *o++ = ch;
        else
            o = PutEscape(o, c);
    }
    *o++ = '"';
    return o;
}

// The same for UTF-16 `s`, encoded on the way as ToUtf8 does (a lone surrogate as U+FFFD): the
// string PutQuoted gives for ToUtf8(s), with no text in between.
char* PutQuoted(char* o, TextView s) {
    *o++ = '"';
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c < 0x80) {
            if (c >= 0x20 && c != '"' && c != '\\')
                *o++ = static_cast<char>(c);
            else
                o = PutEscape(o, c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x800) {
            *o++ = static_cast<char>(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            *o++ = static_cast<char>(0xE0 | (c >> 12));
            *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        } else {
            *o++ = static_cast<char>(0xF0 | (c >> 18));
            *o++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        }
        *o++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    *o++ = '"';
    return o;
}

// Bytes of the layout (a literal) at `o`.
template <std::size_t N>
char* Put(char* o, const char (&literal)[N]) {
    std::memcpy(o, literal, N - 1);
    return o + N - 1;
}

// A count in decimal at `o` (room for 20 digits).
char* PutNumber(char* o, uint64_t v) {
    return std::to_chars(o, o + 20, v).ptr;
}

// Appends `s` (UTF-8 or UTF-16) to `out` as a JSON string.
template <class View>
void AppendQuoted(std::string& out, View s) {
    const std::size_t at = out.size();
    out.resize(at + QuotedRoom(s.size()));
    char* const begin = out.data();
    out.resize(static_cast<std::size_t>(PutQuoted(begin + at, s) - begin));
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
        char digits[24];
        out_.append(digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, v).ptr - digits));
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
// the one before. The texts of the task list are UTF-16 and come out well-formed whatever they hold;
// an entry with a text of ours that is not UTF-8 (a server's status text in a reason) takes the
// library's way, which replaces its bad bytes.
void AppendPicture(std::string& out, const AlbumJsonPictureView& p, bool first) {
    out += first ? "[\n" : ",\n";
    bool wellFormed = WellFormedUtf8(p.shot) && WellFormedUtf8(p.uploaded) && WellFormedUtf8(p.sha256) &&
                      WellFormedUtf8(p.state) && WellFormedUtf8(p.reason);
    if (p.video)
        wellFormed = wellFormed && WellFormedUtf8(p.video->sha256) && WellFormedUtf8(p.video->state) &&
                     WellFormedUtf8(p.video->reason);
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
    // Room for the whole entry is made once, and the entry written into it.
    std::size_t room = 256 + QuotedRoom(p.file.size()) + QuotedRoom(p.title.size()) +
                       QuotedRoom(p.description.size()) + QuotedRoom(p.main.size()) + QuotedRoom(p.alternate.size()) +
                       QuotedRoom(p.shot.size()) + QuotedRoom(p.uploaded.size()) + QuotedRoom(p.sha256.size()) +
                       QuotedRoom(p.state.size()) + QuotedRoom(p.reason.size());
    if (p.video)
        room += 192 + QuotedRoom(p.video->file.size()) + QuotedRoom(p.video->sha256.size()) +
                QuotedRoom(p.video->state.size()) + QuotedRoom(p.video->reason.size()) +
                QuotedRoom(p.video->play.size());
    const std::size_t at = out.size();
    out.resize(at + room);
    char* const begin = out.data();
    char* o = begin + at;
    o = Put(o, "  {\n   \"file\": ");
    o = PutQuoted(o, p.file);
    o = Put(o, ",\n   \"title\": ");
    o = PutQuoted(o, p.title);
    o = Put(o, ",\n   \"description\": ");
    o = PutQuoted(o, p.description);
    o = Put(o, ",\n   \"main\": ");
    o = PutQuoted(o, p.main);
    o = Put(o, ",\n   \"alternate\": ");
    o = PutQuoted(o, p.alternate);
    o = Put(o, ",\n   \"shot\": ");
    o = PutQuoted(o, p.shot);
    o = Put(o, ",\n   \"uploaded\": ");
    o = PutQuoted(o, p.uploaded);
    o = Put(o, ",\n   \"size\": ");
    o = PutNumber(o, p.size);
    o = Put(o, ",\n   \"sha256\": ");
    o = PutQuoted(o, p.sha256);
    o = Put(o, ",\n   \"state\": ");
    o = PutQuoted(o, p.state);
    o = Put(o, ",\n   \"reason\": ");
    o = PutQuoted(o, p.reason);
    if (p.video) {
        o = Put(o, ",\n   \"video\": {\n    \"file\": ");
        o = PutQuoted(o, p.video->file);
        o = Put(o, ",\n    \"size\": ");
        o = PutNumber(o, p.video->size);
        o = Put(o, ",\n    \"sha256\": ");
        o = PutQuoted(o, p.video->sha256);
        o = Put(o, ",\n    \"state\": ");
        o = PutQuoted(o, p.video->state);
        o = Put(o, ",\n    \"reason\": ");
        o = PutQuoted(o, p.video->reason);
        o = Put(o, ",\n    \"play\": ");
        o = PutQuoted(o, p.video->play);
        o = Put(o, "\n   }");
    }
    o = Put(o, "\n  }");
    out.resize(static_cast<std::size_t>(o - begin));
}

// The view of a whole picture's entry (`film` holds its video's).
AlbumJsonPictureView ViewOf(const AlbumJsonPicture& p, AlbumJsonFilmView& film) {
    AlbumJsonPictureView v{p.file,   p.title, p.description, p.main,  p.alternate, p.shot,
                           p.uploaded, p.size, p.sha256,     p.state, p.reason,    nullptr};
    if (p.video) {
        film = AlbumJsonFilmView{p.video->file, p.video->size, p.video->sha256,
                                 p.video->state, p.video->reason, p.video->play};
        v.video = &film;
    }
    return v;
}

// The end of the pictures array (or an empty one) and of the file.
void AppendEnd(std::string& out, std::size_t pictures) {
    out += pictures > 0 ? "\n ]" : "[]";
    out += "\n}\n";
}

// Builds the album and hands out its pictures as the parser meets them: nothing of the file is held
// but the picture being read. Keys it does not know and values of the wrong type are passed over
// (the fields keep their defaults); a document that is no object, a format newer than 1 or
// nesting deeper than kMaxDepth ends the parse.
class AlbumJsonReader {
public:
    using PictureFn = std::function<void(AlbumJsonPicture&)>;
    AlbumJsonReader(AlbumJson& album, PictureFn picture) : a_(album), picture_(std::move(picture)) {}

    bool null() { return true; }
    bool boolean(bool v) {
        if (Top() == Ctx::Album && key_ == "complete") a_.complete = v;
        return true;
    }
    bool number_integer(json::number_integer_t v) {
        if (v >= 0) return number_unsigned(static_cast<uint64_t>(v));
        if (Top() == Ctx::Root && key_ == "format") return true;  // older than any: read as 1
        if (Top() == Ctx::Album && key_ == "expected" && v >= std::numeric_limits<int32_t>::min())
            a_.expected = static_cast<int32_t>(v);
        return true;  // every other number is a count or a size: a negative one keeps the default
    }
    bool number_unsigned(json::number_unsigned_t v) {
        switch (Top()) {
            case Ctx::Root:
                // A format newer than 1 was written by a newer program.
                return key_ != "format" || v <= 1 || v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
            case Ctx::Album:
                if (key_ == "expected") {
                    if (v <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) a_.expected = static_cast<int32_t>(v);
                } else if (size_t* n = AlbumCount()) {
                    *n = static_cast<size_t>(v);
                }
                return true;
            case Ctx::Videos:
                if (size_t* n = VideoCount()) *n = static_cast<size_t>(v);
                return true;
            case Ctx::Picture:
                if (key_ == "size") pic_.size = v;
                return true;
            case Ctx::Video:
                if (key_ == "size") pic_.video->size = v;
                return true;
            default:
                return true;
        }
    }
    bool number_float(json::number_float_t, const std::string&) { return true; }
    bool string(std::string& v) {
        switch (Top()) {
            case Ctx::Target:
                if (key_ == "kind") a_.kind = std::move(v);
                else if (key_ == "id") a_.targetId = FromUtf8(v);
                return true;
            case Ctx::Album:
                if (key_ == "id") a_.albumId = FromUtf8(v);
                else if (key_ == "name") a_.name = FromUtf8(v);
                else if (key_ == "privacy") a_.privacy = FromUtf8(v);
                else if (key_ == "folder") a_.folder = FromUtf8(v);
                else if (key_ == "updated") a_.updated = std::move(v);
                return true;
            case Ctx::Picture:
                if (key_ == "file") pic_.file = FromUtf8(v);
                else if (key_ == "title") pic_.title = FromUtf8(v);
                else if (key_ == "description") pic_.description = FromUtf8(v);
                else if (key_ == "main") pic_.main = FromUtf8(v);
                else if (key_ == "alternate") pic_.alternate = FromUtf8(v);
                else if (key_ == "shot") pic_.shot = std::move(v);
                else if (key_ == "uploaded") pic_.uploaded = std::move(v);
                else if (key_ == "sha256") pic_.sha256 = std::move(v);
                else if (key_ == "state") pic_.state = std::move(v);
                else if (key_ == "reason") pic_.reason = std::move(v);
                return true;
            case Ctx::Video:
                if (key_ == "file") pic_.video->file = FromUtf8(v);
                else if (key_ == "sha256") pic_.video->sha256 = std::move(v);
                else if (key_ == "state") pic_.video->state = std::move(v);
                else if (key_ == "reason") pic_.video->reason = std::move(v);
                else if (key_ == "play") pic_.video->play = FromUtf8(v);
                return true;
            default:
                return true;
        }
    }
    bool binary(json::binary_t&) { return true; }
    bool start_object(std::size_t) {
        Ctx next = Ctx::Skip;
        if (stack_.empty()) next = Ctx::Root;
        else if (Top() == Ctx::Root && key_ == "target") next = Ctx::Target;
        else if (Top() == Ctx::Root && key_ == "album") next = Ctx::Album;
        else if (Top() == Ctx::Album && key_ == "videos") next = Ctx::Videos;
        else if (Top() == Ctx::Pictures) next = Ctx::Picture;
        else if (Top() == Ctx::Picture && key_ == "video") next = Ctx::Video;
        if (next == Ctx::Picture) pic_ = AlbumJsonPicture{};
        if (next == Ctx::Video) pic_.video = AlbumJsonFilm{};
        return Push(next);
    }
    bool key(std::string& k) {
        key_ = std::move(k);
        return true;
    }
    bool end_object() {
        if (Top() == Ctx::Picture) {
            if (++pictures_ > kAlbumJsonMaxPictures) return false;
            picture_(pic_);
        }
        stack_.pop_back();
        key_.clear();
        return true;
    }
    bool start_array(std::size_t) {
        if (stack_.empty()) return false;  // the document is no object
        return Push(Top() == Ctx::Root && key_ == "pictures" ? Ctx::Pictures : Ctx::Skip);
    }
    bool end_array() {
        stack_.pop_back();
        key_.clear();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

    // A document was read (no scalar alone at the top).
    bool Read() const { return seenRoot_; }

private:
    enum class Ctx : uint8_t { Root, Target, Album, Videos, Pictures, Picture, Video, Skip };
    Ctx Top() const { return stack_.empty() ? Ctx::Skip : stack_.back(); }
    bool Push(Ctx c) {
        if (stack_.size() >= static_cast<std::size_t>(kMaxDepth)) return false;
        if (c == Ctx::Root) seenRoot_ = true;
        stack_.push_back(c);
        return true;
    }
    size_t* AlbumCount() {
        if (key_ == "listed") return &a_.listed;
        if (key_ == "saved") return &a_.saved;
        if (key_ == "already_had") return &a_.alreadyHad;
        if (key_ == "failed") return &a_.failed;
        if (key_ == "not_tried") return &a_.notTried;
        if (key_ == "not_listed") return &a_.notListed;
        return nullptr;
    }
    size_t* VideoCount() {
        if (key_ == "listed") return &a_.videos;
        if (key_ == "saved") return &a_.videosSaved;
        if (key_ == "already_had") return &a_.videosAlreadyHad;
        if (key_ == "failed") return &a_.videosFailed;
        if (key_ == "not_tried") return &a_.videosNotTried;
        return nullptr;
    }

    AlbumJson& a_;
    PictureFn picture_;
    std::vector<Ctx> stack_;
    std::string key_;
    AlbumJsonPicture pic_;
    std::size_t pictures_ = 0;
    bool seenRoot_ = false;
};

// The bytes of an open file in pieces, as an input iterator for the parser; it ends early (and says
// so) past `maxBytes` or on a read error.
class ChunkedFile {
public:
    ChunkedFile(int fd, uint64_t maxBytes) : fd_(fd), max_(maxBytes) {}
    ~ChunkedFile() { ::close(fd_); }
    ChunkedFile(const ChunkedFile&) = delete;
    ChunkedFile& operator=(const ChunkedFile&) = delete;

    bool AtEnd() {
        if (pos_ < len_) return false;
        if (failed_ || eof_) return true;
        ssize_t n;
        do n = ::read(fd_, buffer_, sizeof buffer_);
        while (n < 0 && errno == EINTR);
        if (n < 0 || total_ + static_cast<uint64_t>(n > 0 ? n : 0) > max_) failed_ = true;
        if (n <= 0 || failed_) {
            eof_ = true;
            return true;
        }
        total_ += static_cast<uint64_t>(n);
        pos_ = 0;
        len_ = static_cast<std::size_t>(n);
        return false;
    }
    char Current() const { return buffer_[pos_]; }
    void Next() { ++pos_; }
    bool Failed() const { return failed_; }

    struct Iterator {
        using iterator_category = std::input_iterator_tag;
        using value_type = char;
        using difference_type = std::ptrdiff_t;
        using pointer = const char*;
        using reference = const char&;
        ChunkedFile* file = nullptr;  // null: the end
        bool End() const { return !file || file->AtEnd(); }
        char operator*() const { return file->Current(); }
        Iterator& operator++() {
            file->Next();
            return *this;
        }
        bool operator==(const Iterator& o) const { return End() == o.End(); }
        bool operator!=(const Iterator& o) const { return !(*this == o); }
    };
    Iterator begin() { return Iterator{this}; }
    Iterator end() { return Iterator{}; }

private:
    int fd_;
    uint64_t max_;
    uint64_t total_ = 0;
    std::size_t pos_ = 0, len_ = 0;
    bool failed_ = false, eof_ = false;
    char buffer_[64 * 1024];
};

bool ReadAlbumJsonFile(const Text& albumFolder, uint64_t maxBytes, AlbumJson& album,
                       const std::function<void(AlbumJsonPicture&)>& picture) {
    const std::filesystem::path path = PathFromText(albumFolder) / kAlbumJsonName;
    // O_NONBLOCK: a pipe planted under the name must not block the open; it is no regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > maxBytes) {
        ::close(fd);
        return false;
    }
    auto file = std::make_unique<ChunkedFile>(fd, maxBytes);
    AlbumJsonReader reader(album, picture);
    const bool parsed = json::sax_parse(file->begin(), file->end(), &reader);
    return parsed && reader.Read() && !file->Failed();
}

std::optional<AlbumJson> Collected(bool read, AlbumJson& album, std::vector<AlbumJsonPicture>& pictures) {
    if (!read) return std::nullopt;
    album.pictures = std::move(pictures);
    return std::move(album);
}

// The writer's buffer goes to the file once it holds this much.
constexpr std::size_t kFlushBytes = 64 * 1024;

}  // namespace

std::string AlbumJsonText(const AlbumJson& a) {
    std::string out;
    AppendHead(out, a);
    AlbumJsonFilmView film;
    for (std::size_t i = 0; i < a.pictures.size(); ++i) AppendPicture(out, ViewOf(a.pictures[i], film), i == 0);
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
    AlbumJsonFilmView film;
    Add(ViewOf(picture, film));
}

void AlbumJsonWriter::Add(const AlbumJsonPictureView& picture) {
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
    char buffer[40];
    return std::string(ChinaTimeText(seconds, buffer));
}

std::string_view ChinaTimeText(int64_t seconds, char (&buffer)[40]) {
    if (seconds <= 0) return {};
    const std::time_t t = static_cast<std::time_t>(seconds + 8 * 3600);
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return {};
    const int year = tm.tm_year + 1900;
    if (year < 1000 || year > 9999)
        return std::string_view(buffer, std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S+08:00", &tm));
    // The common case by hand, as strftime would write it: "YYYY-MM-DDTHH:MM:SS+08:00".
    const auto two = [&buffer](std::size_t at, int v) {
        buffer[at] = static_cast<char>('0' + v / 10);
        buffer[at + 1] = static_cast<char>('0' + v % 10);
    };
    two(0, year / 100);
    two(2, year % 100);
    buffer[4] = '-';
    two(5, tm.tm_mon + 1);
    buffer[7] = '-';
    two(8, tm.tm_mday);
    buffer[10] = 'T';
    two(11, tm.tm_hour);
    buffer[13] = ':';
    two(14, tm.tm_min);
    buffer[16] = ':';
    two(17, tm.tm_sec);
    std::memcpy(buffer + 19, "+08:00", 6);
    return std::string_view(buffer, 25);
}

std::optional<AlbumJson> ParseAlbumJson(std::string_view text) {
    AlbumJson album;
    std::vector<AlbumJsonPicture> pictures;
    AlbumJsonReader reader(album, [&](AlbumJsonPicture& p) { pictures.push_back(std::move(p)); });
    const bool read = json::sax_parse(text.begin(), text.end(), &reader) && reader.Read();
    return Collected(read, album, pictures);
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
    AlbumJson album;
    std::vector<AlbumJsonPicture> pictures;
    const bool read = ReadAlbumJsonFile(albumFolder, kAlbumJsonMaxBytes, album,
                                        [&](AlbumJsonPicture& p) { pictures.push_back(std::move(p)); });
    return Collected(read, album, pictures);
}

bool ReadAlbumJson(const Text& albumFolder, AlbumJson& album, const std::function<void(AlbumJsonPicture&)>& picture) {
    return ReadAlbumJsonFile(albumFolder, kAlbumJsonStreamMaxBytes, album, picture);
}

}  // namespace qm

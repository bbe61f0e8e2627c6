#include "download/AlbumJson.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>

#include "net/FileUtil.h"

namespace qm {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

// The nesting a well-formed file has is 3 (object, pictures array, picture object).
constexpr int kMaxDepth = 16;

// True when brackets outside strings never nest deeper than kMaxDepth: a file of nothing but
// brackets would otherwise make the parser hold one entry per bracket.
bool ShallowEnough(std::string_view text) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth) return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

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

}  // namespace

std::string AlbumJsonText(const AlbumJson& a) {
    ordered_json pictures = ordered_json::array();
    for (const AlbumJsonPicture& p : a.pictures) {
        pictures.push_back({{"file", ToUtf8(p.file)},
                            {"title", ToUtf8(p.title)},
                            {"description", ToUtf8(p.description)},
                            {"main", ToUtf8(p.main)},
                            {"alternate", ToUtf8(p.alternate)},
                            {"size", p.size},
                            {"sha256", p.sha256},
                            {"state", p.state},
                            {"reason", p.reason}});
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
    // Reasons and hashes are ours, but a server's status text may carry any byte: never throw.
    return doc.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<AlbumJson> ParseAlbumJson(std::string_view text) {
    if (!ShallowEnough(text)) return std::nullopt;
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
            pic.size = Num<uint64_t>(p, "size", 0);
            pic.sha256 = Str(p, "sha256");
            pic.state = Str(p, "state");
            pic.reason = Str(p, "reason");
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

std::optional<AlbumJson> ReadAlbumJson(const Text& albumFolder) {
    const std::filesystem::path path = PathFromText(albumFolder) / kAlbumJsonName;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > kAlbumJsonMaxBytes) return std::nullopt;
    // Read at most one byte past the cap, so a file that grows meanwhile is refused, not swallowed.
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > size) return std::nullopt;
    return ParseAlbumJson(text);
}

}  // namespace qm

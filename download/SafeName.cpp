#include "download/SafeName.h"

namespace qm {

namespace {
bool IsHigh(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLow(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Units and UTF-8 bytes of the character starting at text[i].
void CharAt(TextView text, std::size_t i, std::size_t& units, std::size_t& bytes) {
    const char16_t c = text[i];
    units = 1;
    if (c < 0x80) {
        bytes = 1;
    } else if (c < 0x800) {
        bytes = 2;
    } else if (IsHigh(c) && i + 1 < text.size() && IsLow(text[i + 1])) {
        units = 2;
        bytes = 4;
    } else {
        bytes = 3;
    }
}
}  // namespace

std::size_t Utf8Length(TextView text) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t units, bytes;
        CharAt(text, i, units, bytes);
        total += bytes;
        i += units;
    }
    return total;
}

Text CutToUtf8Bytes(TextView text, std::size_t maxBytes) {
    std::size_t total = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t units, bytes;
        CharAt(text, i, units, bytes);
        if (total + bytes > maxBytes) break;
        total += bytes;
        i += units;
    }
    return Text(text.substr(0, i));
}

Text CutToUnits(TextView text, std::size_t units) {
    if (units >= text.size()) return Text(text);
    if (units > 0 && IsHigh(text[units - 1]) && IsLow(text[units])) --units;
    return Text(text.substr(0, units));
}

bool IsSafeComponent(TextView name) {
    if (name.empty() || name == u"." || name == u"..") return false;
    for (char16_t c : name)
        if (c == u'/' || c == 0) return false;
    return Utf8Length(name) <= kMaxComponentBytes;
}

bool IsInsideFolder(const std::filesystem::path& folder, const std::filesystem::path& path) {
    const std::filesystem::path f = folder.lexically_normal();
    const std::filesystem::path p = path.lexically_normal();
    auto pi = p.begin();
    for (auto fi = f.begin(); fi != f.end(); ++fi) {
        if (fi->empty()) continue;  // the trailing "" of a folder written with its separator
        if (pi == p.end() || *fi != *pi) return false;
        ++pi;
    }
    // Something must remain below the folder, and none of it may climb back up.
    bool any = false;
    for (; pi != p.end(); ++pi) {
        if (pi->empty()) continue;
        if (*pi == "..") return false;
        any = true;
    }
    return any;
}

}  // namespace qm

namespace qm {

Text FitFileName(TextView name, std::size_t maxBytes) {
    if (Utf8Length(name) <= maxBytes) return Text(name);
    const std::size_t dot = name.rfind(u'.');
    const TextView ext = (dot == TextView::npos || dot == 0) ? TextView() : name.substr(dot);
    const std::size_t extBytes = Utf8Length(ext);
    if (extBytes >= maxBytes) return CutToUtf8Bytes(name, maxBytes);
    const TextView stem = name.substr(0, name.size() - ext.size());
    return CutToUtf8Bytes(stem, maxBytes - extBytes) + Text(ext);
}

}  // namespace qm

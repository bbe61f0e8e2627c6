#include "core/CleanFileName.h"

#include <ctime>

namespace qm {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0x3000; }

void TrimBlanks(Text& t) {
    std::size_t b = 0, e = t.size();
    while (b < e && IsBlank(t[b])) ++b;
    while (e > b && IsBlank(t[e - 1])) --e;
    t = t.substr(b, e - b);
}

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// Device names that Windows refuses as a file or folder name, with or without an extension.
bool IsReservedDeviceName(TextView t) {
    const std::size_t dot = t.find(u'.');
    const TextView stem = t.substr(0, dot);
    Text up;
    for (char16_t c : stem) up += Upper(c);
    while (!up.empty() && up.back() == u' ') up.pop_back();
    static const char16_t* const kNames[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
    for (const char16_t* n : kNames)
        if (up == n) return true;
    if (up.size() == 4 && (up.compare(0, 3, u"COM") == 0 || up.compare(0, 3, u"LPT") == 0) &&
        up[3] >= u'0' && up[3] <= u'9')
        return true;
    return false;
}

Text TimeStampName() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d%H%M%S", &tm);
    return FromUtf8(buf);
}

}  // namespace

void CleanFileName(Text& text, bool fallback, unsigned number) {
    DecodeHtmlEntities(text);
    while (text.find(u"  ") != Text::npos) ReplaceAll(text, u"  ", u" ");
    TrimBlanks(text);
    if (!text.empty() && text.find_first_not_of(u'.') == Text::npos) {
        for (auto& c : text) c = u'。';
    }
    Text out;
    out.reserve(text.size());
    for (char16_t c : text) {
        switch (c) {
            case u'\\': case u'/': case u':': case u'*': case u'?':
            case u'"':  case u'<': case u'>': case u'|':
                continue;
            case u'\t':
                out += u'_';
                continue;
            default:
                break;
        }
        // Control characters (CR, LF, BEL and the rest) can't stand in a file name anywhere.
        if (c < 0x20 || c == 0x7F) continue;
        out += c;
    }
    text = std::move(out);
    while (!text.empty() && text.back() == u'.') text.pop_back();
    std::size_t lead = 0;
    while (lead < text.size() && text[lead] == u'.') ++lead;
    text.erase(0, lead);
    TrimBlanks(text);
    // Windows refuses trailing dots and blanks and the device names; keep the folder usable there.
    while (!text.empty() && (text.back() == u'.' || text.back() == u' ')) text.pop_back();
    if (IsReservedDeviceName(text)) text = u"_" + text;
    if (fallback && (text.empty() || text.size() >= 1000)) {
        text = number == kTimeStampFallback ? TimeStampName() : FormatText("pic%d", static_cast<int>(number));
    }
}

void KeepWindowsSafe(Text& component) {
    while (!component.empty() && (component.back() == u'.' || component.back() == u' ')) component.pop_back();
    if (IsReservedDeviceName(component)) component = u"_" + component;
}

bool IsPictureExtension(TextView name) {
    const std::size_t dot = name.rfind(u'.');
    if (dot == TextView::npos) return false;
    Text ext;
    for (char16_t c : name.substr(dot)) ext += (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    return ext == u".jpeg" || ext == u".jpg" || ext == u".bmp" || ext == u".gif" || ext == u".png" ||
           ext == u".tif";
}

}  // namespace qm

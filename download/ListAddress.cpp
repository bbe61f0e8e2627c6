#include "download/ListAddress.h"

namespace qm {

namespace {

bool StartsWithNoCase(TextView s, std::u16string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char16_t c = s[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

bool IsControl(char16_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

void AppendPercent(Text& out, char16_t c) {
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char byte : ToUtf8(TextView(&c, 1))) {
        out += u'%';
        out += static_cast<char16_t>(kHex[byte >> 4]);
        out += static_cast<char16_t>(kHex[byte & 0x0F]);
    }
}

}  // namespace

Text ListableAddress(TextView address, std::string& why) {
    why.clear();
    std::size_t hostStart = 0;
    if (StartsWithNoCase(address, u"http://"))
        hostStart = 7;
    else if (StartsWithNoCase(address, u"https://"))
        hostStart = 8;
    if (hostStart == 0) {
        why = "not an http address";
        return {};
    }
    std::size_t pathStart = address.find_first_of(u"/?#", hostStart);
    if (pathStart == TextView::npos) pathStart = address.size();
    if (pathStart == hostStart) {
        why = "no host";
        return {};
    }
    for (std::size_t i = hostStart; i < pathStart; ++i) {
        if (IsControl(address[i]) || address[i] == u' ') {
            why = "a control character or blank in the host";
            return {};
        }
    }
    Text line(address.substr(0, pathStart));
    for (char16_t c : address.substr(pathStart)) {
        if (IsControl(c))
            AppendPercent(line, c);
        else
            line += c;
    }
    return line;
}

}  // namespace qm

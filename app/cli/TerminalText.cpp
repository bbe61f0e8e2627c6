#include "app/cli/TerminalText.h"

#include <cstdio>

namespace qm::cli {

std::string EscapeControls(TextView text) {
    Text safe;
    safe.reserve(text.size());
    for (char16_t c : text) {
        const bool control = c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029;
        if (!control) {
            safe.push_back(c);
            continue;
        }
        char buf[8];
        if (c == u'\n')
            std::snprintf(buf, sizeof buf, "\\n");
        else if (c == u'\t')
            std::snprintf(buf, sizeof buf, "\\t");
        else if (c == u'\r')
            std::snprintf(buf, sizeof buf, "\\r");
        else if (c < 0x100)
            std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(c));
        else
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
        for (const char* p = buf; *p; ++p) safe.push_back(static_cast<char16_t>(*p));
    }
    return ToUtf8(safe);
}

}  // namespace qm::cli

#include "sites/Token.h"

namespace qm {

Text CookieValue(TextView cookieText, TextView name) {
    if (name.empty()) return Text();
    // Walk the "a=1; b=2" pairs; a pair at the very front counts like any other, and a name that
    // merely ends with `name` (p_skey for skey) is a different cookie.
    std::size_t pos = 0;
    while (pos <= cookieText.size()) {
        std::size_t end = cookieText.find(u';', pos);
        if (end == TextView::npos) end = cookieText.size();
        TextView pair = cookieText.substr(pos, end - pos);
        while (!pair.empty() && (pair.front() == u' ' || pair.front() == u'\t')) pair.remove_prefix(1);
        if (pair.size() > name.size() && pair.substr(0, name.size()) == name && pair[name.size()] == u'=')
            return Text(pair.substr(name.size() + 1));
        pos = end + 1;
    }
    return Text();
}

unsigned PSkeyOrSkeyToken(TextView cookieText) {
    static constexpr TextView kName = u"p_skey=";
    for (std::size_t pos = cookieText.find(kName); pos != TextView::npos;
         pos = cookieText.find(kName, pos + 1)) {
        if (pos == 0 || cookieText[pos - 1] == u' ' || cookieText[pos - 1] == u';')
            return ComputeGTk(CookieValue(cookieText, u"p_skey"));
    }
    return ComputeGTk(CookieValue(cookieText, u"skey"));
}

unsigned ComputeGTk(TextView key) {
    uint32_t h = 5381;
    for (char16_t u : key) h = h * 33u + static_cast<uint32_t>(u);
    return h & 0x7FFFFFFFu;
}

}  // namespace qm

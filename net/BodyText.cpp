// Response body to text: optional gunzip, the code-page choice, then HTML entities.
#include "net/BodyText.h"

namespace qm {

Text GetBodyText(const ST_URLRESPONSE& resp, unsigned flags) {
    std::string inflated;
    std::string_view bytes(resp.body);
    if ((flags & TXT_GUNZIP) && resp.gzip) {
        InflateGzip(resp.body.data(), resp.body.size(), inflated);  // partial output is kept
        bytes = inflated;
    }

    Text text;
    // Most answers are ASCII through and through (their JSON escapes every other character), and
    // every code page below reads those alike: widened in one pass, without the UTF-8 check.
    if (AsciiToText(bytes, text)) {
        DecodeHtmlEntities(text);
        return text;
    }
    // A GBK declaration in the headers overrides whatever the caller expects.
    if (resp.headers.find(u"charset=GBK") != Text::npos) {
        text = AnsiToText(bytes);
    } else if (flags & TXT_UTF8) {
        text = MultiByteToText(bytes, CP_UTF8);
    } else if (flags & TXT_BIG5) {
        text = MultiByteToText(bytes, CP_BIG5);
    } else if ((flags & TXT_AUTO) && IsUtf8Text(bytes)) {
        text = MultiByteToText(bytes, CP_UTF8);
    } else {
        text = AnsiToText(bytes);
    }

    DecodeHtmlEntities(text);
    return text;
}

void InflateBody(ST_URLRESPONSE& resp) {
    // Only a body that is a gzip stream: one merely marked so (a "gzip" in another header line) is
    // left for GetBodyText to read as it always did.
    if (!resp.gzip || !IsGzipStream(resp.body)) return;
    std::string inflated;
    InflateGzip(resp.body.data(), resp.body.size(), inflated);
    resp.body.swap(inflated);
    resp.gzip = false;
}

}  // namespace qm

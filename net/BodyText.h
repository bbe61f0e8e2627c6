// Turns a response record into UTF-16 text: optional gunzip, code-page choice, HTML entities.
#pragma once

#include "net/StringCtrl.h"
#include "net/URLSource2.h"

namespace qm {

enum BodyTextFlags : unsigned { TXT_GUNZIP = 0x01, TXT_UTF8 = 0x02, TXT_BIG5 = 0x08, TXT_AUTO = 0x10 };

Text GetBodyText(const ST_URLRESPONSE& resp, unsigned flags);

// Inflates a body that is a gzip stream in place (what a damaged stream gave is kept, as GetBodyText
// keeps it) and clears `gzip`, so that the checks of an answer and its reading share one inflated
// copy. Anything else is left as it is.
void InflateBody(ST_URLRESPONSE& resp);

}  // namespace qm

// Turns a response record into UTF-16 text: optional gunzip, code-page choice, HTML entities.
#pragma once

#include "net/StringCtrl.h"
#include "net/URLSource2.h"

namespace qm {

enum BodyTextFlags : unsigned { TXT_GUNZIP = 0x01, TXT_UTF8 = 0x02, TXT_BIG5 = 0x08, TXT_AUTO = 0x10 };

Text GetBodyText(const ST_URLRESPONSE& resp, unsigned flags);

}  // namespace qm

// The request token of the QQ services and cookie lookups.
#pragma once

#include "net/StringCtrl.h"

namespace qm {

// Value of cookie `name` in a "a=1; b=2" cookie text, found at the very front as well as after
// "; " (empty when absent).
Text CookieValue(TextView cookieText, TextView name);
// g_tk: the hash of a login cookie value (5381 for an empty value).
unsigned ComputeGTk(TextView key);
// g_tk of the QZone photo and mood interfaces: of the p_skey cookie whenever the text carries one
// (an empty value too, giving 5381), otherwise of skey.
unsigned PSkeyOrSkeyToken(TextView cookieText);

}  // namespace qm

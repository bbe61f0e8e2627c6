// Which addresses may go into a list file for a download manager (the ".lst" address list and the
// aria2c input file), and in what form: a download manager takes every line as an address or an
// option, so a line break inside an address would let a server add lines of its own (another
// folder, another file name), and a non-http address would make it read a local file or another
// protocol that this program itself never fetches.
#pragma once

#include <string>

#include "net/StringCtrl.h"

namespace qm {

// The address as a list line holds it: http or https only, with every control character (C0, DEL,
// C1, the line and paragraph separators) percent-encoded as UTF-8 bytes; other characters are kept.
// Empty, with `why` set, when the address must not be listed: another scheme (file:, ftp:,
// javascript: ...), no host, or a control character or a blank before the path.
Text ListableAddress(TextView address, std::string& why);

}  // namespace qm

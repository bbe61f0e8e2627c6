// Text from a server, a file or the system made safe for a terminal: nothing in it can move the
// cursor, ring the bell, start an escape sequence, change the window title or reorder the line.
#pragma once

#include <string>
#include <string_view>

#include "net/StringCtrl.h"

namespace qm {

// Escapes C0 controls and DEL (\n, \t and \r by name, the others as \xNN), C1 controls (\xNN of
// the code point), the line and paragraph separators and the bidirectional controls (\uNNNN).
// A byte that is not part of valid UTF-8 is shown as \xNN. The characters of `keep` (C0 only,
// e.g. "\t\n" for a whole table) are left as they are.
std::string EscapeForTerminal(std::string_view utf8, std::string_view keep = {});
std::string EscapeForTerminal(TextView text);

// A JSON document for a terminal: C1 controls, the separators and the bidirectional controls
// (which a JSON writer leaves raw inside strings) become \uNNNN escapes, so the document stays
// valid and every value reads back unchanged. Bytes that are not UTF-8 become U+FFFD.
std::string JsonForTerminal(std::string_view json);

}  // namespace qm

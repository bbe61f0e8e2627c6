// Text from a server made safe for a terminal: control characters (C0, DEL, C1), the line
// separators and the bidirectional controls are shown as escapes, so a hostile album name or
// message can never move the cursor, ring the bell, start an escape sequence or reorder the line.
#pragma once

#include <string>
#include <string_view>

#include "net/StringCtrl.h"
#include "net/TerminalSafe.h"

namespace qm::cli {

std::string EscapeControls(TextView text);
inline std::string EscapeControls(std::string_view utf8) {
    return EscapeForTerminal(utf8);
}

}  // namespace qm::cli

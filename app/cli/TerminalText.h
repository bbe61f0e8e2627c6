// Text from a server made safe for a terminal: control characters (C0, DEL, C1) are shown as
// escapes, so a hostile album name or message can never move the cursor, ring the bell or start
// an escape sequence.
#pragma once

#include <string>
#include <string_view>

#include "net/StringCtrl.h"

namespace qm::cli {

std::string EscapeControls(TextView text);
inline std::string EscapeControls(std::string_view utf8) {
    return EscapeControls(FromUtf8(utf8));
}

}  // namespace qm::cli

#include "app/cli/TerminalText.h"

#include "net/TerminalSafe.h"

namespace qm::cli {

std::string EscapeControls(TextView text) {
    return EscapeForTerminal(text);
}

}  // namespace qm::cli

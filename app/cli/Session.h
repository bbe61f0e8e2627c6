// What one run of quillmoss-cli works with: the program folder (the current directory) with its
// settings and cookie store, the terminal front end, the shared state, and with --demo the
// built-in simulator that every connection is routed to.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/cli/CliPresenter.h"
#include "core/SettingsStore.h"

namespace qm::sim {
class Simulator;
}

namespace qm::cli {

class Session {
public:
    explicit Session(std::optional<bool> answer = std::nullopt);
    ~Session();

    // Loads soft.dat and the cookie store of the current directory; with `demo` starts the
    // simulator on a free loopback port. False (with the reason printed) when that fails.
    bool Open(bool demo);

    CliPresenter fe;
    SettingsStore st;

private:
    std::unique_ptr<sim::Simulator> sim_;
};

// The program folder: the current directory with a trailing separator.
Text ProgramFolder();

}  // namespace qm::cli

// What one run of quillmoss-cli works with: the program folder with its
// settings and cookie store, the terminal front end, the shared state, and with --demo the
// built-in simulator that every connection is routed to.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/cli/CliPresenter.h"
#include "app/cli/CliOptions.h"
#include "core/SettingsStore.h"

namespace qm::cli {

// What --demo starts: the built-in simulator with every connection routed to it, kept running while
// the returned handle lives; null with `error` set when it cannot start. The program supplies it
// (the simulator's server is no part of the CLI library).
struct DemoHandle {
    std::shared_ptr<void> keepAlive;  // stops the simulator when released
    std::string connectTo;            // "127.0.0.1:PORT"
};
using DemoStarter = std::function<DemoHandle(std::string& error)>;
void SetDemoStarter(DemoStarter starter);

class Session {
public:
    explicit Session(std::optional<bool> answer = std::nullopt);
    ~Session();

    // Loads soft.dat and the cookie store of the program folder; with `demo` starts the
    // simulator on a free loopback port. False (with the reason printed) when that fails.
    bool Open(const GlobalOptions& global);

    CliPresenter fe;
    SettingsStore st;

private:
    DemoHandle demo_;
};

// The program folder (core/ProgramFolders.h) with a trailing separator, created when missing;
// empty (with the reason printed) when it cannot be made.
Text ProgramFolder(const GlobalOptions& global);

}  // namespace qm::cli

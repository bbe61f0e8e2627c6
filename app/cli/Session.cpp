#include "app/cli/Session.h"

#include <httplib.h>

#include <filesystem>
#include <stdexcept>

#include "app/cli/Console.h"
#include "core/Settings.h"
#include "net/CookieStore.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"
#include "sim/Simulator.h"

namespace qm::cli {

Text ProgramFolder() {
    std::error_code ec;
    Text folder = TextFromPath(std::filesystem::current_path(ec));
    if (folder.empty() || folder.back() != u'/') folder.push_back(u'/');
    return folder;
}

Session::Session(std::optional<bool> answer) : fe(answer) {}

Session::~Session() {
    if (sim_) sim_->Stop();
}

bool Session::Open(bool demo) {
    st.programFolder = ProgramFolder();
    LoadSettings(st);
    if (!CookieStore::Instance().Open(PathFromText(st.programFolder)))
        Console::Get().Err(
            "warning: cookies.txt in the program folder cannot be read; starting without cookies");
    if (demo) {
        try {
            sim_ = sim::Simulator::FromFile(sim::DemoScenarioPath());
        } catch (const std::exception& e) {
            Console::Get().Err(std::string("demo: ") + e.what());
            return false;
        }
        if (sim_->Start(0) == 0) {
            Console::Get().Err("demo: the simulator could not start on 127.0.0.1");
            return false;
        }
        // Wait for one answer: the server's loop then runs, and stopping it at the end works.
        httplib::Client probe("127.0.0.1", sim_->Port());
        probe.set_connection_timeout(2);
        probe.Get("/");
        SetConnectTo(sim_->ConnectTo());
        Console::Get().Err("demo: every connection goes to the built-in simulator at " + sim_->ConnectTo());
    }
    return true;
}

}  // namespace qm::cli

#include "app/cli/Session.h"

#include <filesystem>

#include "app/cli/Console.h"
#include "core/Settings.h"
#include "net/CookieStore.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"

namespace qm::cli {

Text ProgramFolder() {
    std::error_code ec;
    Text folder = TextFromPath(std::filesystem::current_path(ec));
    if (folder.empty() || folder.back() != u'/') folder.push_back(u'/');
    return folder;
}

Session::Session(std::optional<bool> answer) : fe(answer), st(fe) {
    fe.AttachState(&st);
}

namespace {
DemoStarter& Starter() {
    static DemoStarter starter;
    return starter;
}
}  // namespace

void SetDemoStarter(DemoStarter starter) {
    Starter() = std::move(starter);
}

Session::~Session() = default;

bool Session::Open(bool demo) {
    st.programFolder = ProgramFolder();
    LoadSettings(st);
    if (!CookieStore::Instance().Open(PathFromText(st.programFolder)))
        Console::Get().Err(
            "warning: cookies.txt in the program folder cannot be read; starting without cookies");
    if (demo) {
        std::string error = "this program has no built-in simulator";
        if (Starter()) demo_ = Starter()(error);
        if (!demo_.keepAlive) {
            Console::Get().Err("demo: " + error);
            return false;
        }
        Console::Get().Err("demo: every connection goes to the built-in simulator at " + demo_.connectTo);
    }
    st.WindowReady = 1;
    return true;
}

}  // namespace qm::cli

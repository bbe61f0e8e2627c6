#include "app/cli/Session.h"

#include <filesystem>

#include "app/cli/Console.h"
#include "core/ProgramFolders.h"
#include "core/Settings.h"
#include "net/CookieStore.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"

namespace qm::cli {

Text ProgramFolder(const GlobalOptions& global) {
    const ProgramFolders folders = ChooseProgramFolders(ProgramFolderInputsFromEnvironment(global.programFolder));
    std::string error;
    if (!CreateProgramFolders(folders, error)) {
        Console::Get().Err("quillmoss-cli: " + error);
        return Text();
    }
    Text folder = TextFromPath(folders.config);
    if (folder.empty() || folder.back() != u'/') folder.push_back(u'/');
    return folder;
}

Session::Session(std::optional<bool> answer) : fe(answer) {
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

bool Session::Open(const GlobalOptions& global) {
    st.programFolder = ProgramFolder(global);
    if (st.programFolder.empty()) return false;
    st.cacheFolder = st.programFolder;  // the CLI shows no covers
    LoadSettings(st);
    if (!CookieStore::Instance().Open(PathFromText(st.programFolder)))
        Console::Get().Err(
            "注意: 无法读取程序文件夹里的 cookies.txt，这次不带 cookies 运行");
    if (global.demo) {
        std::string error = "本程序没有内置的模拟服务";
        if (Starter()) demo_ = Starter()(error);
        if (!demo_.keepAlive) {
            Console::Get().Err("演示: " + error);
            return false;
        }
        Console::Get().Err("演示: 所有连接都发往内置的模拟服务 " + demo_.connectTo);
    }
    return true;
}

}  // namespace qm::cli

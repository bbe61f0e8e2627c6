#include <cstdio>

#include "app/cli/CliOptions.h"
#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "app/cli/Interrupt.h"
#include "app/cli/ServiceWords.h"

namespace qm::cli {

namespace {

constexpr char kMainHelp[] =
    "usage: quillmoss-cli [--demo] [--program-folder DIR] COMMAND ...\n"
    "\n"
    "从终端下载{names和}的整本相册。\n"
    "\n"
    "  list TARGET [--kind {kinds|}] [--format table|tsv|json]\n"
    "                       列出{names或}的相册\n"
    "  download TARGET --save DIR [--kind ...] [--albums all|1,3-5] [--yes|--no]\n"
    "           [--album-password ID=PASSWORD] [--quiet|--no-progress]\n"
    "                       先列出，再把选中的相册下载到 DIR\n"
    "  report --save DIR [--format table|tsv]\n"
    "                       DIR 里下载过的相册是否完整（不联网）\n"
    "  gallery --save DIR [TARGET]\n"
    "                       为已保存的相册生成离线浏览页（HTML 页面和缩略图）\n"
    "  settings show | set KEY VALUE | toggle FLAG\n"
    "                       下载参数、文件名规则和选项（soft.dat）\n"
    "  cookies import FILE [--all-domains] | import --domain D 'name=value; ...' |\n"
    "          import --from-browser firefox [--profile PATH] | list\n"
    "                       请求所用的 cookies（cookies.txt）\n"
    "\n"
    "  --demo               用内置的模拟服务代替真实的服务\n"
    "  -P, --program-folder DIR\n"
    "                       把 soft.dat、cookies.txt 和封面缓存放在 DIR\n"
    "  -V, --version        程序名和版本\n"
    "  -h, --help           本说明；COMMAND --help 说明该命令\n"
    "\n"
    "程序文件夹：--program-folder DIR，否则 $QUILLMOSS_HOME，否则已有 soft.dat 的当前文件夹，\n"
    "否则设置和 cookies 放在 $XDG_CONFIG_HOME/quillmoss（~/.config/quillmoss），封面缓存放在\n"
    "$XDG_CACHE_HOME/quillmoss（~/.cache/quillmoss）。缺少的文件夹会以 0700 权限创建。\n"
    "退出状态：0 完成，1 失败或没有找到，2 用法错误，130 被中断。\n";

}  // namespace

const char* MainHelp() {
    static const std::string help = ServiceWords(kMainHelp);
    return help.c_str();
}

int UsageError(const std::string& message, const char* usage) {
    Console::Get().Err("quillmoss-cli: " + message);
    Console::Get().Err(usage);
    return ExitUsage;
}

int RunCli(const std::vector<std::string>& words) {
    CliOptions options;
    int status = ParseCommandLine(words, options);
    if (status < 0) {
        InstallInterruptHandler();
        switch (options.command) {
            case Command::List: status = ListCommand(options.global, options.list); break;
            case Command::Download: status = DownloadCommand(options.global, options.download); break;
            case Command::Report: status = ReportCommand(options.global, options.report); break;
            case Command::Gallery: status = GalleryCommand(options.global, options.gallery); break;
            case Command::Settings: status = SettingsCommand(options.global, options.settings); break;
            case Command::Cookies: status = CookiesCommand(options.global, options.cookies); break;
            case Command::None: status = ExitUsage; break;
        }
    }
    // What went to standard output must have reached it: a full disk or a closed pipe is a failure.
    if (!Console::Get().OutFlushed() && status == ExitDone) {
        std::fputs("quillmoss-cli: cannot write to standard output\n", stderr);
        status = ExitFailure;
    }
    return status;
}

}  // namespace qm::cli

#include <strings.h>

#include <cstdlib>

#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "app/cli/Session.h"
#include "core/ExtSettings.h"
#include "core/Settings.h"

namespace qm::cli {

namespace {

constexpr char kSettingsUsage[] = "usage: quillmoss-cli settings show | set KEY VALUE | toggle FLAG";

constexpr char kSettingsHelp[] =
    "usage: quillmoss-cli settings show | set KEY VALUE | toggle FLAG\n"
    "\n"
    "显示和修改程序文件夹里 soft.dat 中QQ空间系列的设置（见 quillmoss-cli --help）；每次修改立即保存。\n"
    "\n"
    "  show               显示下面每一项的值\n"
    "  set KEY VALUE      下载参数：ThreadCount（1-15）、TimeoutSec（>= 10）、MinSizeKB、\n"
    "                     MaxSizeKB（0 = 不限）；文件名：NamePrefix、NameSuffix、ReplaceFrom、\n"
    "                     ReplaceTo、FolderPrefix、FolderSuffix（每项最多 38 个字符）、\n"
    "                     NameMode（0 描述，1 序号，2 地址）、FolderMode（0 相册名，1 不建文件夹）\n"
    "  toggle FLAG        FixFormat、FixOrder、TitleListFile、ListOnly、OpenFolderWhenDone、\n"
    "                     MainPicturesOnly、SkipDownloaded、LargePictures、DescriptionPicturesOnly、\n"
    "                     NoGallery（下载后不生成离线浏览页，窗口里也一样）、\n"
    "                     KeepShootTime（保留拍摄时间：保存的图片以拍摄时间为文件时间；\n"
    "                     保存在 下载器扩展设置.ini 里而不是 soft.dat；也可 set KeepShootTime on|off）\n"
    "\n"
    "KEY 和 FLAG 不区分大小写。VALUE 可以以 \"-\" 开头（set MinSizeKB -1）。\n"
    "退出状态：0 完成，1 设置无法保存，2 用法错误或值被拒绝。\n";

constexpr char16_t kParamError[] = u"参数错误";
constexpr char kKeepShootTime[] = "KeepShootTime";

struct FlagName {
    const char* name;
    uint16_t bit;
};
constexpr FlagName kFlags[] = {
    {"FixFormat", SiteFlag::FixFormat},
    {"FixOrder", SiteFlag::FixOrder},
    {"TitleListFile", SiteFlag::TitleListFile},
    {"ListOnly", SiteFlag::ListOnly},
    {"OpenFolderWhenDone", SiteFlag::OpenFolderWhenDone},
    {"MainPicturesOnly", SiteFlag::MainPicturesOnly},
    {"SkipDownloaded", SiteFlag::SkipDownloaded},
    {"LargePictures", SiteFlag::LargePictures},
    {"DescriptionPicturesOnly", SiteFlag::DescriptionPicturesOnly},
    {"NoGallery", SiteFlag::NoGalleryAfterDownload},
};

struct TextField {
    const char* name;
    ProfileText SiteProfile::*field;
};
constexpr TextField kTextFields[] = {
    {"NamePrefix", &SiteProfile::NamePrefix},     {"NameSuffix", &SiteProfile::NameSuffix},
    {"ReplaceFrom", &SiteProfile::ReplaceFrom},   {"ReplaceTo", &SiteProfile::ReplaceTo},
    {"FolderPrefix", &SiteProfile::FolderPrefix}, {"FolderSuffix", &SiteProfile::FolderSuffix},
};

struct NumberField {
    const char* name;
    uint16_t DownParam::*field;
};
constexpr NumberField kNumberFields[] = {
    {"ThreadCount", &DownParam::ThreadCount},
    {"TimeoutSec", &DownParam::TimeoutSec},
    {"MinSizeKB", &DownParam::MinSizeKB},
    {"MaxSizeKB", &DownParam::MaxSizeKB},
};

bool Same(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

// A number as the dialogs read an edit: a signed decimal, anything else 0.
long ReadSigned(const std::string& text) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    return (end == text.c_str() || *end != '\0') ? 0 : v;
}

int ParamError() {
    Console::Get().Err(ToUtf8(kParamError));
    return ExitUsage;
}

// Saves the change; exit status 1 with the system's reason when soft.dat cannot be written.
int Saved(SettingsStore& st) {
    if (const auto error = SaveSettings(st)) {
        Console::Get().Err("quillmoss-cli: 无法保存设置: " + *error);
        return ExitFailure;
    }
    return ExitDone;
}

int Show(SettingsStore& st) {
    const DownParam d = st.Down();
    const SiteProfile p = st.Profile();
    std::string out;
    for (const auto& f : kNumberFields)
        out += std::string(f.name) + "\t" + std::to_string(d.*(f.field)) + "\n";
    for (const auto& f : kTextFields)
        out += std::string(f.name) + "\t" + ToUtf8(FieldText(p.*(f.field))) + "\n";
    out += "NameMode\t" + std::to_string(p.NameMode) + "\n";
    out += "FolderMode\t" + std::to_string(p.FolderMode) + "\n";
    for (const auto& f : kFlags)
        out += std::string(f.name) + "\t" + ((p.SiteFlags & f.bit) ? "on" : "off") + "\n";
    out += std::string(kKeepShootTime) + "\t" + (ReadExtSettings(st.programFolder).KeepShootTime ? "on" : "off") + "\n";
    Console::Get().Out(out);
    return ExitDone;
}

// The shoot-time switch lives in the extension settings file.
int SetKeepShootTime(SettingsStore& st, bool on) {
    if (const auto error = WriteExtSetting(st.programFolder, kDownloadSection, kKeepShootTimeKey, on ? u"1" : u"0")) {
        Console::Get().Err("quillmoss-cli: cannot save the settings: " + *error);
        return ExitFailure;
    }
    Console::Get().Out(std::string(kKeepShootTime) + "\t" + (on ? "on" : "off") + "\n");
    return ExitDone;
}

int Set(SettingsStore& st, const std::string& key, const std::string& value) {
    if (Same(key, kKeepShootTime)) {
        if (Same(value, "on") || value == "1") return SetKeepShootTime(st, true);
        if (Same(value, "off") || value == "0") return SetKeepShootTime(st, false);
        return ParamError();
    }
    std::unique_lock<std::mutex> lock(st.settingsMutex);
    DownParam& d = st.settings.down[static_cast<std::size_t>(st.currentSite)];
    SiteProfile& p = st.settings.profile[static_cast<std::size_t>(st.currentSite)];
    bool known = false;
    for (const auto& f : kNumberFields) {
        if (!Same(key, f.name)) continue;
        // As the download-parameter dialog: the low 16 bits of a signed number, then the checks.
        DownParam next = d;
        next.*(f.field) = static_cast<uint16_t>(ReadSigned(value) & 0xFFFF);
        if (next.ThreadCount < 1 || next.ThreadCount > 15 || next.TimeoutSec < 10) return ParamError();
        d = next;
        known = true;
    }
    for (const auto& f : kTextFields) {
        if (!Same(key, f.name)) continue;
        Text t = FromUtf8(value);
        if (t.size() > 38) t.resize(38);
        SetFieldText(p.*(f.field), t);
        known = true;
    }
    if (Same(key, "NameMode") || Same(key, "FolderMode")) {
        const bool name = Same(key, "NameMode");
        const long v = ReadSigned(value);
        if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos || v > (name ? 2 : 1))
            return ParamError();
        (name ? p.NameMode : p.FolderMode) = static_cast<uint8_t>(v);
        known = true;
    }
    if (!known) return UsageError("未知的设置项 " + key, kSettingsUsage);
    lock.unlock();
    return Saved(st);
}

int Toggle(SettingsStore& st, const std::string& flag) {
    if (Same(flag, kKeepShootTime)) return SetKeepShootTime(st, !ReadExtSettings(st.programFolder).KeepShootTime);
    const FlagName* found = nullptr;
    for (const auto& f : kFlags)
        if (Same(flag, f.name)) found = &f;
    if (!found) return UsageError("未知的开关 " + flag, kSettingsUsage);
    bool on = false;
    {
        std::lock_guard<std::mutex> lock(st.settingsMutex);
        uint16_t& flags = st.settings.profile[static_cast<std::size_t>(st.currentSite)].SiteFlags;
        flags ^= found->bit;
        on = (flags & found->bit) != 0;
        // The two shop-picture choices exclude each other.
        if (on && found->bit == SiteFlag::MainPicturesOnly)
            flags &= static_cast<uint16_t>(~SiteFlag::DescriptionPicturesOnly);
        if (on && found->bit == SiteFlag::DescriptionPicturesOnly)
            flags &= static_cast<uint16_t>(~SiteFlag::MainPicturesOnly);
    }
    if (const int exit = Saved(st); exit != ExitDone) return exit;
    Console::Get().Out(std::string(found->name) + "\t" + (on ? "on" : "off") + "\n");
    return ExitDone;
}

}  // namespace

const char* SettingsUsage() {
    return kSettingsUsage;
}

const char* SettingsHelp() {
    return kSettingsHelp;
}

int SettingsCommand(const GlobalOptions& global, const SettingsOptions& o) {
    Session s;
    s.st.programFolder = ProgramFolder(global);
    if (s.st.programFolder.empty()) return ExitFailure;
    LoadSettings(s.st);
    switch (o.action) {
        case SettingsOptions::Action::Show: return Show(s.st);
        case SettingsOptions::Action::Set: return Set(s.st, o.key, o.value);
        case SettingsOptions::Action::Toggle: return Toggle(s.st, o.key);
    }
    return ExitUsage;
}

}  // namespace qm::cli

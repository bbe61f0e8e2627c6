// Names Windows refuses (device names such as CON, NUL, COM1, LPT3; a trailing dot or blank) never
// reach the disk, on any platform: a save folder synchronised to a Windows machine must open there.
// Albums and pictures with such names are listed and downloaded from the simulator, and every path
// component below the save folder is checked; cuts that end on a blank or dot, or leave a device
// name, are checked through the picture entry directly.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "e2e/support/SimSessionTest.h"
#include "core/CleanFileName.h"
#include "core/Settings.h"
#include "jobs/DownloadJob.h"
#include "jobs/ListJob.h"
#include "download/DownProc.h"
#include "net/CookieStore.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"
#include "sim/Simulator.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Why Windows would refuse this one component, or empty when it accepts it.
std::string WindowsFault(const std::string& utf8) {
    const Text name = FromUtf8(utf8);
    if (name.empty()) return "empty";
    if (name.back() == u'.' || name.back() == u' ') return "trailing dot or blank";
    for (char16_t c : name)
        if (c < 0x20 || Text(u"<>:\"/\\|?*").find(c) != Text::npos) return "forbidden character";
    Text stem = name.substr(0, name.find(u'.'));
    while (!stem.empty() && stem.back() == u' ') stem.pop_back();
    for (auto& c : stem)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    for (const char16_t* dev : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"})
        if (stem == dev) return "device name";
    if (stem.size() == 4 && (stem.starts_with(u"COM") || stem.starts_with(u"LPT")) && stem[3] >= u'0' &&
        stem[3] <= u'9')
        return "device name";
    return {};
}

class WindowsNames : public test::SimSessionTest {
protected:
    WindowsNames() : SimSessionTest("qm-winnames-", "save") {}

    // Every component below the save folder that Windows would refuse.
    std::vector<std::string> Refused() const {
        std::vector<std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(save)) {
            const std::string why = WindowsFault(e.path().filename().string());
            if (!why.empty()) out.push_back(e.path().lexically_relative(save).string() + ": " + why);
        }
        return out;
    }
};

TEST_F(WindowsNames, DownloadedAlbumsAndPicturesOpenOnWindows) {
    json pics = json::array();
    int n = 0;
    for (const char* name : {"CON", "nul", "Com1", "LPT3.jpg", "aux.txt", "PRN .png", "dots...", "blank ",
                             "a. . .", "CONOUT$", "...", "con.tar.gz"}) {
        pics.push_back({{"id", "w" + std::to_string(++n)}, {"name", name}, {"kind", "raw"}, {"size", 1200}});
    }
    json albums = json::array();
    int a = 0;
    for (const char* name : {"CON", "nul.", "COM1 ", "aux . .", "LPT9.x", "..."}) {
        albums.push_back({{"id", "Vw" + std::to_string(++a)}, {"name", name}, {"priv", 1}, {"pictures", pics}});
        for (auto& p : albums.back()["pictures"]) p["id"] = p["id"].get<std::string>() + "_" + std::to_string(a);
    }
    Start(json{{"qzone", {{{"uin", 10007}, {"space", "open"}, {"albums", albums}}}}});
    st.settings.profile[0].NameMode = 0;  // pictures named by their titles

    ListAndDownload("10007");
    ASSERT_GE(list.albums.size(), 6u);

    std::size_t pictures = 0, folders = 0;
    for (const auto& e : fs::recursive_directory_iterator(save)) {
        pictures += e.is_regular_file() && e.path().extension() != ".vyr" &&
                    e.path().filename().string().rfind("quillmoss-archive", 0) != 0 &&
                    e.path().filename() != "album.json";
        folders += e.is_directory();
    }
    EXPECT_EQ(pictures, 6u * pics.size());
    EXPECT_GE(folders, 2u);
    EXPECT_EQ(Refused(), std::vector<std::string>());
}

TEST_F(WindowsNames, CutsNeverEndOnADotOrBlankNorMakeADeviceName) {
    // An album folder: prefix and name together pass the 255-byte limit, and the cut lands on ". .".
    SiteProfile& prof = st.settings.profile[0];
    SetFieldText(prof.FolderPrefix, Text(39, u'汉'));
    prof.FolderMode = 0;
    prof.NameMode = 0;
    ST_PERLISTRECORD rec;
    rec.Name = Text(45, u'汉') + u". .abc";
    fs::create_directories(save);
    DownloadState ds(fe, SystemClock());
    ds.profile = prof;
    ds.album.record = rec;
    ds.album.albumCount = 1;
    ds.task.albumFolder = TextFromPath(save) + u"/";
    AddPicEntry(ds, PictureRef{u"http://p.example.qq.com/1", {}, u"first", {}, {}, {}});
    ASSERT_EQ(ds.task.fileNames.size(), 1u);
    const fs::path album = PathFromText(ds.task.albumFolder).parent_path();
    EXPECT_TRUE(fs::is_directory(album));
    EXPECT_EQ(WindowsFault(album.filename().string()), "");

    // A picture name cut to its last four characters "CON " by the 250-character path limit.
    ds.task.Clear();
    Text deep = TextFromPath(save) + u"/";
    while (deep.size() < 246) deep += u"d";
    deep.resize(245);
    deep += u"/";
    fs::create_directories(PathFromText(deep));
    prof.FolderMode = 1;
    SetFieldText(prof.FolderPrefix, u"");
    ds.profile = prof;
    ds.task.albumFolder = deep;
    AddPicEntry(ds, PictureRef{u"http://p.example.qq.com/2", {}, u"CON title", {}, {}, {}});
    ASSERT_EQ(ds.task.fileNames.size(), 1u);
    EXPECT_EQ(WindowsFault(ToUtf8(ds.task.fileNames[0])), "") << ToUtf8(ds.task.fileNames[0]);
}

TEST(KeepWindowsSafe, LeavesSoundNamesAlone) {
    for (const char16_t* sound : {u"a.jpg", u"x. .jpg", u"_CON", u"CONSOLE", u"COM10", u"旅行"}) {
        Text t = sound;
        KeepWindowsSafe(t);
        EXPECT_EQ(t, sound);
    }
    Text t = u"nul .jpg";
    KeepWindowsSafe(t);
    EXPECT_EQ(t, u"_nul .jpg");
    t = u"abc. . ";
    KeepWindowsSafe(t);
    EXPECT_EQ(t, u"abc");
}

}  // namespace
}  // namespace qm

// End to end through the library against the simulator: the list job fills the album list, the
// download controller lists and downloads the albums. Files are compared byte for byte with what the
// simulator serves; a faulty network and hostile names must never leave a partial, foreign or
// misplaced file.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "e2e/support/SimSessionTest.h"
#include "core/Settings.h"
#include "jobs/DownloadJob.h"
#include "jobs/ListJob.h"
#include "net/CookieStore.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"
#include "sim/Simulator.h"
#include "FileText.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

json LoadScenario(const std::string& name) {
    std::ifstream in(std::string(QM_TEST_DATA) + "/" + name);
    return json::parse(in);
}

class DownloadE2E : public test::SimSessionTest {
protected:
    DownloadE2E() : SimSessionTest("qm-e2e-", "save dir 保存 目录") {}

    // Every picture id of every album of the scenario, with its served bytes.
    std::map<std::string, std::string> ServedBytes() const {
        std::map<std::string, std::string> out;
        for (const auto& owner : sim->Scenario().at("qzone"))
            for (const auto& album : owner.at("albums"))
                for (const auto& p : album.at("pictures")) {
                    const std::string id = p.at("id").get<std::string>();
                    out[sim->PictureBytes(id)] = id;
                }
        return out;
    }
    // Picture files under the save folder (side files of the program left out).
    std::vector<fs::path> PictureFiles() const {
        std::vector<fs::path> out;
        for (const auto& e : fs::recursive_directory_iterator(save)) {
            if (!e.is_regular_file()) continue;
            const std::string ext = e.path().extension().string();
            if (e.path().filename() == "pic.vyr" || ext == ".txt" || ext == ".lst" ||
                e.path().filename().string().rfind("quillmoss-archive", 0) == 0 ||
                e.path().filename() == "album.json")
                continue;
            out.push_back(e.path());
        }
        return out;
    }
};

TEST_F(DownloadE2E, AlbumsArriveByteForByte) {
    Start(LoadScenario("download_e2e.json"));
    ListAndDownload("10001");

    const auto served = ServedBytes();
    std::set<std::string> seen;
    for (const auto& file : PictureFiles()) {
        const std::string bytes = qm::test::FileText(file);
        const auto it = served.find(bytes);
        ASSERT_NE(it, served.end()) << file << " is no picture the site served";
        EXPECT_TRUE(seen.insert(it->second).second) << it->second << " saved twice";
    }
    EXPECT_EQ(seen.size(), served.size());
    // Both albums have their own folder with its history, below save folder + QQ number.
    std::size_t histories = 0;
    for (const auto& e : fs::directory_iterator(save / "10001"))
        histories += e.is_directory() && fs::exists(e.path() / "pic.vyr");
    EXPECT_EQ(histories, 2u);
}

TEST_F(DownloadE2E, FaultyNetworkLeavesOnlyWholePictures) {
    json scenario = LoadScenario("reliability_300.json");
    Start(scenario);
    st.settings.down[0].ThreadCount = 15;
    // A stalled body is given up after three seconds: short enough for the stalls of the scenario,
    // long enough that a loaded machine never cuts a sound answer.
    st.settings.down[0].TimeoutSec = 3;
    ListAndDownload("10002");

    const auto served = ServedBytes();
    ASSERT_EQ(served.size(), 300u);
    std::size_t whole = 0;
    for (const auto& file : PictureFiles()) {
        EXPECT_EQ(file.string().find(".tmp"), std::string::npos) << "temporary file left: " << file;
        const std::string bytes = qm::test::FileText(file);
        EXPECT_TRUE(served.count(bytes))
            << file << " is partial or an error page (" << bytes.size() << " bytes)";
        whole += served.count(bytes);
    }
    // The outcome tells the truth: as many pictures saved as there are whole files, and every
    // other one failed with a reason.
    std::size_t reported = 0, reportedFailed = 0;
    for (const AlbumOutcome& a : outcome.albums) {
        reported += a.saved;
        reportedFailed += a.failed + a.notTried;
        for (const PictureOutcome& p : a.failures) EXPECT_TRUE(p.failure) << ToUtf8(p.fileName);
    }
    EXPECT_EQ(reported, whole);
    EXPECT_EQ(reported + reportedFailed, 300u);
    const std::size_t failed = 300 - whole;
    std::cout << "[ reliability ] 300 pictures: " << whole << " saved whole, " << failed << " failed\n";
    EXPECT_GT(whole, 150u);  // the alternate address and the second attempt rescue most faults
}

TEST_F(DownloadE2E, HostileNamesStayInsideTheSaveFolder) {
    Start(LoadScenario("hostile_names.json"));
    st.settings.profile[0].SiteFlags |= SiteFlag::TitleListFile;
    ListAndDownload("10003");

    // Outside the save folder only the program folder's own files may appear.
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const fs::path rel = fs::relative(e.path(), root);
        const std::string top = rel.begin()->string();
        EXPECT_TRUE(top == "prog" || top == save.filename().string()) << "written outside: " << e.path();
    }
    EXPECT_FALSE(fs::exists(root / "x"));
    std::size_t albumFolders = 0;
    for (const auto& e : fs::directory_iterator(save / "10003")) albumFolders += e.is_directory();
    EXPECT_EQ(albumFolders, 10u);  // every hostile album got a folder of its own
    std::size_t pictures = 0;
    for (const auto& e : fs::recursive_directory_iterator(save)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        EXPECT_TRUE(in.good()) << "cannot open " << e.path();
        for (const auto& part : fs::relative(e.path(), save))
            EXPECT_LE(part.string().size(), 255u) << "component too long: " << e.path();
        ++pictures;
    }
    const auto served = ServedBytes();
    std::size_t whole = 0;
    for (const auto& file : PictureFiles()) whole += served.count(qm::test::FileText(file));
    EXPECT_EQ(whole, served.size());
    EXPECT_GE(pictures, served.size());
}

// Requests for picture bytes (not lists) since the last ClearRequests.
std::size_t PictureRequests(const sim::Simulator& sim) {
    std::size_t n = 0;
    for (const auto& r : sim.Requests())
        n += r.host.size() > 18 && r.host.compare(r.host.size() - 18, 18, "photo.store.qq.com") == 0;
    return n;
}

TEST_F(DownloadE2E, ALaterRunFetchesOnlyWhatIsNewAndAStoppedOneResumes) {
    json scenario = {{"qzone", {{{"uin", "10009"}, {"albums", {{{"id", "a"}, {"name", "A"}, {"pictures", 30}}}}}}}};
    Start(scenario);
    ListAndDownload("10009", {0});
    ASSERT_EQ(outcome.albums.at(0).saved, 30u);
    EXPECT_TRUE(fs::exists(save / "quillmoss-archive.sqlite3"));

    // Five pictures more in the album: the second run asks for exactly those.
    sim->Stop();
    scenario["qzone"][0]["albums"][0]["pictures"] = 35;
    Start(scenario);
    sim->ClearRequests();
    ListAndDownload("10009", {0});
    const AlbumOutcome& again = outcome.albums.at(0);
    EXPECT_EQ(again.listed, 35u);
    EXPECT_EQ(again.alreadyHad, 30u);
    EXPECT_EQ(again.saved, 5u);
    EXPECT_TRUE(outcome.Complete());
    EXPECT_EQ(PictureRequests(*sim), 5u);

    // A picture file deleted by hand, one cut short and one replaced by a link to a good copy are
    // fetched again, and only those.
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(save / "10009" / "A"))
        if (e.path().extension() == ".jpg") files.push_back(e.path());
    ASSERT_EQ(files.size(), 35u);
    std::sort(files.begin(), files.end());
    const auto sizeOf = [&](std::size_t k) { return fs::file_size(files[k]); };
    const std::uintmax_t cutSize = sizeOf(5), linkedSize = sizeOf(7);
    fs::remove(files[3]);
    fs::resize_file(files[5], cutSize - 1);
    const fs::path copy = save / "copy.jpg";
    fs::rename(files[7], copy);
    fs::create_symlink(copy, files[7]);
    sim->ClearRequests();
    ListAndDownload("10009", {0});
    EXPECT_EQ(outcome.albums.at(0).saved, 3u);
    EXPECT_EQ(outcome.albums.at(0).alreadyHad, 32u);
    EXPECT_EQ(PictureRequests(*sim), 3u);
    EXPECT_TRUE(fs::exists(files[3]));
    EXPECT_EQ(sizeOf(5), cutSize);
    EXPECT_FALSE(fs::is_symlink(files[7]));
    EXPECT_EQ(sizeOf(7), linkedSize);
}

TEST_F(DownloadE2E, AStoppedAlbumContinuesWhereItStopped) {
    json scenario = {{"qzone", {{{"uin", "10010"}, {"albums", {{{"id", "s"}, {"name", "S"}, {"pictures", 40}}}}}}}};
    Start(scenario);
    st.settings.down[0].ThreadCount = 2;
    JobControl listControl;
    listControl.TryStart();
    list = RunListJob(ListRequest{u"10010", TargetKind::QZone}, fe, listControl, st.programFolder);
    DownloadRequest request = RequestFor({0});

    // The stop comes once 10 pictures have ended.
    JobControl control;
    control.TryStart();
    std::atomic<int> ended{0};
    fe.onPicture = [&](const PictureOutcome&) {
        if (++ended == 10) control.RequestStop();
    };
    const JobOutcome first = RunDownloadJob(request, fe, control);
    fe.onPicture = nullptr;
    ASSERT_TRUE(first.stopped);
    const std::size_t savedFirst = first.albums.at(0).saved;
    ASSERT_GE(savedFirst, 9u);
    ASSERT_LT(savedFirst, 40u);

    sim->ClearRequests();
    JobControl resume;
    resume.TryStart();
    const JobOutcome second = RunDownloadJob(request, fe, resume);
    EXPECT_TRUE(second.Complete());
    EXPECT_EQ(second.albums.at(0).alreadyHad, savedFirst);
    EXPECT_EQ(PictureRequests(*sim), 40u - savedFirst);
    // Every picture is there once, byte for byte as served.
    const auto served = ServedBytes();
    std::size_t whole = 0;
    for (const auto& file : PictureFiles()) whole += served.count(qm::test::FileText(file));
    EXPECT_EQ(whole, 40u);
}

// A scenario of one QQ number with the given albums (name, picture count), pictures of the given
// format; `faults` as the simulator reads them.
json AlbumsScenario(const std::vector<std::pair<std::string, int>>& albums, const std::string& format = "jpg",
                    json faults = json::array()) {
    json list = json::array();
    int n = 0;
    for (const auto& [name, count] : albums) {
        json pictures = json::array();
        for (int i = 1; i <= count; ++i)
            pictures.push_back({{"id", "a" + std::to_string(n) + "p" + std::to_string(i)},
                                {"name", "pic" + std::to_string(i)},
                                {"format", format},
                                {"size", 3000}});
        list.push_back({{"id", "alb" + std::to_string(n++)}, {"name", name}, {"pictures", pictures}});
    }
    return {{"qzone", {{{"uin", "10005"}, {"albums", list}}}}, {"faults", faults}};
}

// The served address of a picture without its scheme: what a fault's "match" is compared with.
std::string MainAddress(const sim::Simulator& s, const std::string& id) {
    return s.PictureAddress(id).substr(std::string("http://").size());
}

// The main address failing in each way a fetch can fail: the alternate address saves every picture.
TEST_F(DownloadE2E, AlternateAddressAfterEveryKindOfFailure) {
    json scenario = AlbumsScenario({{"alt", 5}});
    const sim::Simulator addresses(scenario);
    auto match = [&](int i) { return MainAddress(addresses, "a0p" + std::to_string(i)); };
    scenario["faults"] = {{{"match", match(1)}, {"status", 404}},
                          {{"match", match(2)}, {"truncate", 100}},
                          {{"match", match(3)}, {"reset", true}},
                          {{"match", match(4)}, {"content_length", 10000000}},
                          {{"match", match(5)}, {"stall_after", 0}, {"stall_ms", 60000}}};
    Start(scenario);
    st.settings.down[0].TimeoutSec = 3;  // ends the stall; a sound answer is never cut
    st.settings.down[0].MaxSizeKB = 100;
    ListAndDownload("10005");
    const fs::path album = save / "10005" / "alt";
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(qm::test::FileText(album / ("pic" + std::to_string(i) + ".jpg")),
                  sim->PictureBytes("a0p" + std::to_string(i)))
            << "picture " << i;
    EXPECT_TRUE(fs::exists(album / "pic.vyr"));  // every picture saved: the album is recorded as done
}

// A picture that failed keeps the album out of the history, so the next run with the skip option
// fetches it instead of stopping at the first picture it had.
TEST_F(DownloadE2E, HistoryOnlyAfterEveryPictureWasSaved) {
    json scenario = AlbumsScenario({{"hist", 3}});
    const sim::Simulator addresses(scenario);
    const std::string second = MainAddress(addresses, "a0p2");
    // Both addresses of picture 2 end in the same name.
    scenario["faults"] = {{{"match", second.substr(second.rfind('/'))}, {"status", 500}}};
    Start(scenario);
    st.settings.profile[0].SiteFlags |= SiteFlag::SkipDownloaded;
    ListAndDownload("10005");
    const fs::path album = save / "10005" / "hist";
    EXPECT_FALSE(fs::exists(album / "pic2.jpg"));
    EXPECT_FALSE(fs::exists(album / "pic.vyr"));

    sim->Stop();
    Start(AlbumsScenario({{"hist", 3}}));
    ListAndDownload("10005");
    EXPECT_EQ(qm::test::FileText(album / "pic2.jpg"), sim->PictureBytes("a0p2"));
    EXPECT_TRUE(fs::exists(album / "pic.vyr"));
}

// The same album downloaded twice with the extension fix: one file per picture, not two.
TEST_F(DownloadE2E, FixFormatOnARedownloadKeepsOneCopy) {
    Start(AlbumsScenario({{"png", 2}}, "png"));
    st.settings.profile[0].SiteFlags |= SiteFlag::FixFormat;
    ListAndDownload("10005");
    ListAndDownload("10005");
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(save / "10005" / "png"))
        names.insert(e.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"album.json", "pic.vyr", "pic1.png", "pic2.png"}));
}

// Symbolic links planted in the save folder never carry anything out of it: an album whose folder
// is one is refused with its reason, a link at a file's name is replaced, not written through, and
// a target folder that is one stops the job before anything is written.
TEST_F(DownloadE2E, SymlinksOutOfTheSaveFolderAreNeverFollowed) {
    Start(AlbumsScenario({{"planted", 2}, {"real", 2}}));
    st.settings.profile[0].SiteFlags |= SiteFlag::TitleListFile;
    const fs::path outside = root / "outside";
    fs::create_directories(outside);
    const fs::path target = save / "10005";
    fs::create_directories(target / "real");
    fs::create_symlink(outside, target / "planted");
    std::ofstream(outside / "victim") << "keep";
    fs::create_symlink(outside / "victim", target / "real" / "pic.vyr");
    fs::create_symlink(outside / "victim", target / "real" / "real.txt");

    ListAndDownload("10005", {0});
    EXPECT_EQ(outcome.albums.at(0).reason, AlbumReason::Unwritable);
    EXPECT_NE(outcome.albums.at(0).reasonText.find("symbolic link"), std::string::npos)
        << outcome.albums.at(0).reasonText;
    EXPECT_FALSE(outcome.Complete());
    ListAndDownload("10005", {1});
    EXPECT_EQ(outcome.albums.at(0).reason, AlbumReason::None);
    EXPECT_EQ(qm::test::FileText(target / "real" / "pic1.jpg"), sim->PictureBytes("a1p1"));
    EXPECT_FALSE(fs::is_symlink(target / "real" / "pic.vyr"));
    EXPECT_FALSE(fs::is_symlink(target / "real" / "real.txt"));

    fs::remove_all(target);
    fs::create_symlink(outside, target);
    DownloadRequest request = RequestFor({0, 1});
    JobControl control;
    control.TryStart();
    EXPECT_EQ(RunDownloadJob(request, fe, control).error, JobError::SaveFolderUnusable);
    EXPECT_EQ(fe.Of("message").back(), u"请检测设置的保存路径是否有误");

    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(outside)) left.insert(e.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"victim"}));
    EXPECT_EQ(qm::test::FileText(outside / "victim"), "keep");
}

}  // namespace
}  // namespace qm

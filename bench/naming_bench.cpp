// Naming many pictures of one title: every untitled picture of an album takes the album name, so
// real albums bring thousands of equal names. Prints the seconds AddPicEntry takes to name and
// queue 20,000 pictures titled alike (title list on), against a goal of one second.
//
//   naming_bench [--count N]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/AppState.h"
#include "download/DownProc.h"
#include "net/FileUtil.h"

namespace {

class NullFrontend : public qm::Frontend {
public:
    void ShowMessage(const qm::Text&, const qm::Text&) override {}
    bool AskYesNo(const qm::Text&, const qm::Text&) override { return false; }
    void RequestLogin(const qm::Text&) override {}
    void SetControlText(qm::Ctl, const qm::Text&) override {}
    void EnableControl(qm::Ctl, bool) override {}
    void ShowControl(qm::Ctl, bool) override {}
    void SetCheck(qm::Ctl, bool) override {}
    qm::Text ControlText(qm::Ctl) override { return {}; }
    bool KindChoiceVisible() override { return false; }
    int KindChoice() override { return 0; }
    void AlbumAdded(int) override {}
    void RefreshTable() override {}
    std::vector<int> SelectedAlbums() override { return {}; }
    void AddHistory(qm::Ctl, const qm::Text&) override {}
    void AlbumDownloaded(unsigned, unsigned) override {}
    void OpenFolder(const qm::Text&) override {}
};

}  // namespace

int main(int argc, char** argv) {
    int count = 20000;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc) count = std::max(1, std::atoi(argv[++i]));

    char pattern[] = "/tmp/qm-naming-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const std::filesystem::path dir = pattern;

    NullFrontend fe;
    qm::AppState st(fe);
    st.settings.profile[0].SiteFlags = qm::SiteFlag::TitleListFile;
    st.task.albumFolder = qm::TextFromPath(dir) + u"/";
    qm::ST_PERLISTRECORD rec;
    rec.Name = u"Album";
    st.albums.AppendRecord(rec);
    st.DownloadJobState.store(qm::DownloadRunning);

    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
        qm::AddPicEntry(st, 0, qm::FromUtf8("http://h.example/p/" + std::to_string(i) + ".jpg"), u"IMG", u"");
    qm::WriteTitleList(st.task, rec.Name);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const bool distinct =
        st.task.fileNames.size() == static_cast<std::size_t>(count) &&
        st.task.fileNames.back() == qm::FromUtf8("IMG(" + std::to_string(count - 1) + ").jpg");
    std::printf("naming: %d same-titled pictures in %.3f s (goal < 1 s)%s\n", count, seconds,
                distinct ? "" : " WRONG NAMES");
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return distinct && seconds < 1.0 ? 0 : 1;
}

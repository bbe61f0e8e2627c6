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

#include "bench/SilentObserver.h"
#include "core/JobObserver.h"
#include "download/DownProc.h"
#include "net/FileUtil.h"

int main(int argc, char** argv) {
    int count = 20000;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc) count = std::max(1, std::atoi(argv[++i]));

    char pattern[] = "/tmp/qm-naming-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const std::filesystem::path dir = pattern;

    qm::bench::SilentObserver fe;
    qm::DownloadState st(fe, qm::SystemClock());
    st.profile.SiteFlags = qm::SiteFlag::TitleListFile;
    st.task.albumFolder = qm::TextFromPath(dir) + u"/";
    qm::ST_PERLISTRECORD rec;
    rec.Name = u"Album";
    st.album.record = rec;
    st.album.albumCount = 1;

    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
        qm::AddPicEntry(st, qm::PictureRef{qm::FromUtf8("http://h.example/p/" + std::to_string(i) + ".jpg"), {},
                                           u"IMG", {}, {}, {}});
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

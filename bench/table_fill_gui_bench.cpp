// 5,000 albums arriving from a list thread into the window's table: the longest gap of the GUI
// event loop while they arrive, the time until every row is shown, and memory per row.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "net/URLSource2.h"
#include "ui/MyGridCtrl.h"
#include "ui/QuillmossDlg.h"

namespace {
long ResidentKB() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qm::URLSource2Init();
    QApplication app(argc, argv);
    QTemporaryDir dir;
    qm::ui::WindowOptions o;
    o.programFolder = dir.path();
    o.documentsFolder = dir.path();
    o.splash = false;
    o.openUrl = [](const QUrl&) {};
    qm::ui::CQuillmossDlg w(o);
    qm::ui::WindowState& st = w.State();
    while (st.WindowReady.load() != 1) app.processEvents();
    app.processEvents();

    constexpr int kAlbums = 5000;
    const long before = ResidentKB();
    QElapsedTimer clock;
    clock.start();
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (int i = 0; i < kAlbums; ++i) {
            qm::ST_PERLISTRECORD r;
            r.Name = qm::FormatText("相册 %d 的名字", i);
            r.PictureCount = i % 300;
            r.PrivacyFlags = static_cast<uint32_t>(i % 5);
            const std::size_t n = st.albums.AppendRecord(r);  // as the list job's presenter does
            w.AddAlbumRow(static_cast<int>(n) - 1);
        }
        done = true;
    });

    // A 5 ms heartbeat measures how long the event loop goes without running it.
    qint64 last = clock.elapsed(), longestGap = 0, heartbeats = 0;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestGap = std::max(longestGap, now - last);
        last = now;
        ++heartbeats;
    });
    beat.start(5);
    while (!(done.load() && w.Grid()->RowCount() == kAlbums))
        app.processEvents(QEventLoop::WaitForMoreEvents, 50);
    const qint64 fillMs = clock.elapsed();
    producer.join();
    beat.stop();
    const long after = ResidentKB();
    std::printf("albums: %d\n", kAlbums);
    std::printf("fill time: %lld ms\n", static_cast<long long>(fillMs));
    std::printf("longest GUI event-loop gap: %lld ms (%lld heartbeats of 5 ms)\n",
                static_cast<long long>(longestGap), static_cast<long long>(heartbeats));
    std::printf("resident memory growth: %ld KB, %.0f bytes per row (records and rows together)\n",
                after - before, (after - before) * 1024.0 / kAlbums);
    return 0;
}

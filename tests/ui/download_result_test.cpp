// What a person learns after a download: the reason texts, the stopped-download suffix, when the
// result box appears, and what its buttons do.
#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <atomic>
#include <thread>
#include <QSignalSpy>
#include <QTableWidget>

#include "support/UiTestSupport.h"
#include "ui/DownloadProgressBar.h"
#include "ui/DownloadResultDialog.h"
#include "ui/MyGridCtrl.h"
#include "ui/QuillmossDlg.h"
#include "ui/OutcomeTexts.h"

using namespace qm;
using namespace qm::ui;
using namespace qm::uitest;

namespace {

PictureOutcome FailedPicture(FailureKind kind, long status = 0, std::string text = {}) {
    PictureOutcome p;
    p.failure = Failure{kind, status, std::move(text)};
    return p;
}

AlbumOutcome Album(const Text& name, std::size_t listed, std::size_t saved) {
    AlbumOutcome a;
    a.name = name;
    a.expected = static_cast<int32_t>(listed);
    a.listed = listed;
    a.saved = saved;
    a.folder = u"albums/" + name + u"/";
    return a;
}

}  // namespace

TEST(OutcomeTexts, ReasonsAreGroupedAndServerWordsKeptOnOneLine) {
    AlbumOutcome a = Album(u"a", 10, 6);
    a.expected = 12;
    for (auto kind : {FailureKind::Timeout, FailureKind::HttpStatus, FailureKind::Timeout}) {
        a.failures.push_back(FailedPicture(kind, kind == FailureKind::HttpStatus ? 404 : 0));
        ++a.failed;
    }
    EXPECT_EQ(AlbumOutcomeText(a), "超时 2 张；HTTP 404 1 张；2 张未列出");
    EXPECT_EQ(AlbumOutcomeText(Album(u"b", 3, 3)), "");

    const QString net = AlbumReasonText(AlbumReason::Network, "Could not\r\nresolve \x1b[31mhost");
    EXPECT_EQ(net, "网络错误：Could not resolve [31mhost");
    EXPECT_LE(FailureText(FailedPicture(FailureKind::Connection, 0, std::string(5000, 'x')).failure).size(),
              130);
}

TEST(OutcomeTexts, StoppedSuffixCountsWhatTheStopLeft) {
    JobOutcome job;
    AlbumOutcome a = Album(u"a", 10, 6);
    a.notTried = 3;
    a.failures.push_back(FailedPicture(FailureKind::Stopped));
    a.failed = 1;
    AlbumOutcome never = Album(u"b", 0, 0);
    never.expected = 24;
    never.reason = AlbumReason::Stopped;
    job.albums = {a, never};
    EXPECT_EQ(StoppedSuffix(job), "");  // not stopped: nothing to add
    job.stopped = true;
    EXPECT_EQ(StoppedSuffix(job), "（已终止，28 张未下载）");
    // A stop alone is said in the status line; the result box is for failures.
    EXPECT_FALSE(NeedsResultBox(job));
    job.albums[0].failures.push_back(FailedPicture(FailureKind::HttpStatus, 500));
    EXPECT_TRUE(NeedsResultBox(job));

    JobOutcome done;
    done.albums = {Album(u"c", 4, 4)};
    EXPECT_FALSE(NeedsResultBox(done));
    done.albums.push_back(Album(u"d", 0, 0));
    done.albums.back().reason = AlbumReason::NoAccess;
    EXPECT_TRUE(NeedsResultBox(done));
}

TEST(OutcomeTexts, FinishedStatusSaysWhatIsMissing) {
    JobOutcome done;
    done.albums = {Album(u"a", 4, 4)};
    EXPECT_EQ(FinishedStatus(done, false), "下载完毕");
    // A stop that came after the last picture: the user learns that nothing was cut short.
    EXPECT_EQ(FinishedStatus(done, true), "下载完毕（终止前已全部下载完成）");
    done.stopped = true;
    EXPECT_EQ(FinishedStatus(done, true), "下载完毕（终止前已全部下载完成）");

    JobOutcome partial;
    AlbumOutcome refused = Album(u"b", 0, 0);
    refused.expected = 5;
    refused.reason = AlbumReason::NoAccess;
    AlbumOutcome failing = Album(u"c", 10, 7);
    failing.failed = 3;
    partial.albums = {Album(u"a", 4, 4), refused, failing};
    EXPECT_EQ(FinishedStatus(partial, false), "下载完毕（2 个相册不完整，8 张未下载）");
    partial.stopped = true;
    EXPECT_EQ(FinishedStatus(partial, true), "下载完毕" + StoppedSuffix(partial));
}

// Workers report pictures from many threads, out of order; the window shows the newest count,
// never an older one after it, and ends on the album's total.
TEST(DownloadProgress, NeverRunsBackwardsAndEndsOnTheTotal) {
    WindowFixture f;
    QtPresenter& p = f.window->Presenter();
    auto* line = qobject_cast<QLabel*>(f.window->Control(Ctl::Progress));
    constexpr std::size_t kTotal = 1200;
    ST_PERLISTRECORD rec;
    p.AlbumStarted(1, 1, rec);
    p.TransferStarted(kTotal, u"x/");
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&] {
            for (std::size_t n; (n = ++next) <= kTotal;) p.PictureFinished(PictureOutcome{}, n, kTotal);
        });
    std::vector<int> seen;
    auto sample = [&] {
        const int v = f.window->ProgressBar()->findChild<QProgressBar*>()->value();
        if (seen.empty() || seen.back() != v) seen.push_back(v);
    };
    while (next.load() < kTotal) {
        QCoreApplication::processEvents();
        sample();
    }
    for (auto& w : workers) w.join();
    WaitUntil([&] { return line->text() == "已下载1200/1200......"; }, 3000);
    sample();
    EXPECT_EQ(line->text(), "已下载1200/1200......");
    EXPECT_EQ(seen.back(), static_cast<int>(kTotal));
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

// "终止下载" pressed while the window still shows the download running, after the job's last
// picture: no new download starts and the status says the job had already finished.
TEST(DownloadProgress, StopAfterTheEndSaysTheJobHadFinished) {
    WindowFixture f;
    CQuillmossDlg& w = *f.window;
    auto* status = qobject_cast<QLabel*>(w.Control(Ctl::Status));
    auto* button = qobject_cast<QPushButton*>(w.Control(Ctl::DownloadButton));
    JobControl& job = w.State().downloadJob.control;
    ASSERT_TRUE(job.TryStart());
    JobOutcome done;
    done.albums = {Album(u"a", 4, 4)};
    std::thread([&] {
        w.Presenter().DownloadStarted(1);
        w.Presenter().DownloadFinished(done);
    }).join();
    job.Finish();  // the job ended; its last updates are still queued
    button->setText("终止下载");
    w.OnDownloadButton();
    EXPECT_FALSE(w.State().downloadJob.Running());  // nothing new started
    WaitUntil([&] { return button->text() == "下载"; }, 3000);
    EXPECT_EQ(status->text(), "下载完毕（终止前已全部下载完成）");
}

TEST(DownloadResultBox, ListsAlbumsAndItsButtonsActOnTheChosenAlbum) {
    WindowFixture f;
    JobOutcome job;
    AlbumOutcome ok = Album(u"完整", 4, 4);
    AlbumOutcome bad = Album(u"缺图", 5, 3);
    bad.failed = 2;
    bad.failures = {FailedPicture(FailureKind::Timeout), FailedPicture(FailureKind::SizeLimit)};
    job.albums = {ok, bad};
    job.lastFolder = bad.folder;

    DownloadResultDialog* box = f.window->ShowDownloadResult(job);
    ASSERT_EQ(box->Table()->rowCount(), 2);
    EXPECT_EQ(box->Table()->item(1, 0)->text(), "缺图");
    EXPECT_EQ(box->Table()->item(1, 1)->text(), "5");  // 列出
    EXPECT_EQ(box->Table()->item(1, 4)->text(), "2");
    EXPECT_EQ(box->Table()->item(1, 5)->text(), "超时 1 张；大小超出限制 1 张");
    EXPECT_TRUE(box->GalleryButton()->isHidden());

    // The incomplete album is preselected: "打开文件夹" opens its folder.
    box->OpenFolderButton()->click();
    ASSERT_EQ(f.opened.size(), 1);
    EXPECT_TRUE(f.opened[0].endsWith("albums/缺图/"));
    box->Table()->selectRow(0);
    box->OpenFolderButton()->click();
    EXPECT_TRUE(f.opened.last().endsWith("albums/完整/"));

    QSignalSpy retry(box, &DownloadResultDialog::RetryFailedRequested);
    ASSERT_TRUE(box->RetryButton()->isEnabled());
    box->RetryButton()->click();
    EXPECT_EQ(retry.count(), 1);

    DownloadResultDialog* withGallery = f.window->ShowDownloadResult(job, "albums/index.html");
    EXPECT_FALSE(withGallery->GalleryButton()->isHidden());
    withGallery->GalleryButton()->click();
    EXPECT_TRUE(f.opened.last().endsWith("albums/index.html"));
}

// The mood row says posts as well as pictures: in the result box's reason, and in the table's
// count after the download, also when the table is made again.
TEST(DownloadResultBox, MoodRowSaysPostsAndPictures) {
    WindowFixture f;
    AlbumOutcome mood = Album(u"说说里的图片-新增测试功能", 5, 5);
    mood.index = 0;
    mood.posts.listed = 4;
    mood.posts.added = 2;
    mood.posts.refreshed = 1;
    mood.posts.kept = 6;
    mood.posts.error = "No space left on device";
    EXPECT_FALSE(mood.Complete());  // the words were not kept
    JobOutcome job;
    job.albums = {mood};
    EXPECT_TRUE(NeedsResultBox(job));
    DownloadResultDialog* box = f.window->ShowDownloadResult(job);
    EXPECT_EQ(box->Table()->item(0, 5)->text(),
              "说说 4 条，新增 2 条，更新 1 条，共存 6 条，说说未能保存：No space left on device");

    mood.posts.error.clear();
    mood.posts.written = true;
    EXPECT_TRUE(mood.Complete());
    ST_PERLISTRECORD rec;
    rec.Name = mood.name;
    rec.CoverUrl = u"123";
    rec.PictureCount = -1;
    CMyGridCtrl* grid = f.window->Grid();
    grid->ResetTable(false);
    grid->AddListRow(0, rec);
    auto countCell = [&] {
        for (int r = 0; r < grid->RowCount(); ++r)
            if (grid->Model().Cell(r, 2).data == 0) return grid->Model().Cell(r, 2).text;
        return QString();
    };
    EXPECT_EQ(countCell(), "未知");
    grid->SetCountText(0, MoodCountText(mood));
    EXPECT_EQ(countCell(), "6 条说说 / 5 张");
    grid->ResetTable(false);
    grid->AddListRow(0, rec);
    EXPECT_EQ(countCell(), "6 条说说 / 5 张");
}

// What a person learns after a download: the reason texts, the stopped-download suffix, when the
// result box appears, and what its buttons do.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>

#include "support/UiTestSupport.h"
#include "ui/DownloadResultDialog.h"
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
    EXPECT_EQ(box->Table()->item(1, 3)->text(), "2");
    EXPECT_EQ(box->Table()->item(1, 4)->text(), "超时 1 张；大小超出限制 1 张");
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

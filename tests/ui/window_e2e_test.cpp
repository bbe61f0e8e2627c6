// Through the window against the simulator: list the demo target, tick two albums, download them
// byte for byte; closing the window during a download stops it cleanly.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFileInfo>
#include <QProgressBar>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include <set>

#include "FileText.h"
#include "net/URLSource2.h"
#include "sim/Simulator.h"
#include "support/UiTestSupport.h"
#include "ui/ComboBox2.h"
#include "ui/DownloadProgressBar.h"
#include "ui/MyGridCtrl.h"

using namespace qm;
using namespace qm::ui;
using namespace qm::uitest;

TEST(WindowAgainstSimulator, ListThenDownloadTwoAlbums) {
    auto sim = sim::Simulator::Demo();
    ASSERT_NE(sim->Start(0), 0);
    SetConnectTo(sim->ConnectTo());
    BoxRecorder boxes;
    {
        WindowFixture f;
        CQuillmossDlg& w = *f.window;
        auto* listButton = qobject_cast<QPushButton*>(w.Control(Ctl::ListButton));
        auto* downloadButton = qobject_cast<QPushButton*>(w.Control(Ctl::DownloadButton));
        auto* status = qobject_cast<QLabel*>(w.Control(Ctl::Status));
        w.TargetBox()->SetEditText("123456789");
        const QString save = f.Dir() + "/saved/";
        w.SaveBox()->SetEditText(save);

        w.OnListButton();
        ASSERT_TRUE(WaitUntil(
            [&] { return !w.State().listJob.Running() && listButton->text() == "获取相册"; }, 30000));
        // The rows follow the listed albums through the event queue.
        ASSERT_TRUE(WaitUntil([&] { return w.Grid()->RowCount() == static_cast<int>(w.State().albums.Count()); }));
        const int rows = w.Grid()->RowCount();
        ASSERT_GE(rows, 3);
        EXPECT_EQ(status->text(), QString("获取相册列表完成，共%1个").arg(rows));
        EXPECT_EQ(qobject_cast<QGroupBox*>(w.Control(Ctl::AlbumGroup))->title(),
                  QString("相册列表(共%1个)").arg(rows));
        EXPECT_EQ(w.Grid()->CellText(rows - 1, 1), "说说里的图片-新增测试功能");
        EXPECT_TRUE(downloadButton->isEnabled());

        // The two albums are chosen by name, wherever the table shows them: 旅行照片 and the first
        // 家庭 (the second one of that name is listed as "家庭 (1)").
        auto rowOf = [&](const QString& name) {
            for (int r = 0; r < rows; ++r)
                if (w.Grid()->CellText(r, 1) == name) return r;
            return -1;
        };
        const int travel = rowOf("旅行照片"), family = rowOf("家庭");
        ASSERT_GE(travel, 0);
        ASSERT_GE(family, 0);
        w.Grid()->selectRow(travel);
        w.Grid()->selectionModel()->select(w.Grid()->model()->index(family, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        w.OnDownloadButton();
        ASSERT_TRUE(WaitUntil(
            [&] { return !w.State().downloadJob.Running() && status->text() == "下载完毕"; }, 60000));
        EXPECT_EQ(downloadButton->text(), "下载");
        // Every picture file is one the simulator served for the two albums; all of them are there.
        std::set<std::string> served;
        for (const auto& album : sim->Scenario().at("qzone").at(0).at("albums")) {
            const std::string id = album.at("id").get<std::string>();
            if (id != "V11travel" && id != "V11family1") continue;
            for (const auto& picture : album.at("pictures"))
                served.insert(sim->PictureBytes(picture.at("id").get<std::string>()));
        }
        ASSERT_EQ(served.size(), 24u + 6u);
        std::set<std::string> saved;
        QDirIterator it(save, {"*.jpg", "*.png", "*.gif", "*.bmp"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (path.contains("/.thumbs/")) continue;  // the offline gallery's own
            const std::string bytes = qm::test::FileText(path.toStdString());
            EXPECT_EQ(served.count(bytes), 1u) << path.toStdString() << " is no picture of the two albums";
            saved.insert(bytes);
        }
        EXPECT_EQ(saved.size(), served.size());
        EXPECT_TRUE(saved == served);

        // The offline gallery of the target is written after the download, as the terminal does.
        ASSERT_TRUE(WaitUntil([&] { return !w.GalleryRunning(); }, 60000));
        EXPECT_TRUE(QFileInfo::exists(w.TargetFolder() + "/index.html")) << w.TargetFolder().toStdString();

        // "导出迅雷下载列表" writes the chosen album's address list and downloads nothing more.
        w.Grid()->selectRow(0);
        w.ExportDownloadLists();
        ASSERT_TRUE(WaitUntil([&] { return !w.State().downloadJob.Running() && downloadButton->text() == "下载"; }, 60000));
        bool listed = false;
        QDirIterator lists(save, {"*.lst"}, QDir::Files, QDirIterator::Subdirectories);
        while (lists.hasNext()) listed = !lists.next().isEmpty();
        EXPECT_TRUE(listed);
    }
    sim->Stop();
}

// Closing the window in the middle of a download, answering Yes: the job stops after the pictures
// in progress and still records what it saved (the archive and album.json) before the window goes.
TEST(WindowAgainstSimulator, ClosingDuringADownloadStopsItCleanly) {
    auto sim = sim::Simulator::Demo();
    ASSERT_NE(sim->Start(0), 0);
    SetConnectTo(sim->ConnectTo());
    BoxRecorder boxes;
    boxes.answer = true;
    {
        WindowFixture f;
        CQuillmossDlg& w = *f.window;
        w.show();
        w.TargetBox()->SetEditText("123456789");
        const QString save = f.Dir() + "/saved/";
        w.SaveBox()->SetEditText(save);
        w.OnListButton();
        ASSERT_TRUE(WaitUntil([&] { return !w.State().listJob.Running() && w.Grid()->RowCount() >= 5; }, 30000));
        ASSERT_TRUE(WaitUntil([&] { return w.Grid()->RowCount() == static_cast<int>(w.State().albums.Count()); }));
        w.Grid()->selectRow(4);  // 1,200 pictures
        w.OnDownloadButton();
        auto* bar = w.ProgressBar()->findChild<QProgressBar*>();
        ASSERT_TRUE(WaitUntil([&] { return bar->maximum() > 0 && bar->value() > 0; }, 60000));
        w.close();
        ASSERT_TRUE(WaitUntil([&] { return !w.isVisible(); }, 60000));
        EXPECT_TRUE(boxes.Texts().contains("正在下载，确定要退出吗？"));
        EXPECT_FALSE(w.State().downloadJob.Running());
        EXPECT_TRUE(QFileInfo::exists(save + "quillmoss-archive.sqlite3"));
        bool sidecar = false;
        QDirIterator it(save, {"album.json"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) sidecar = !it.next().isEmpty();
        EXPECT_TRUE(sidecar);
    }
    sim->Stop();
}

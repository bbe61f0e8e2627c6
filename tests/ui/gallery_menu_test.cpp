// The window's "生成离线相册浏览页": the gallery is made on a worker thread while the window keeps
// running, the menu item is off meanwhile, and the answer to the closing question opens the album
// list page that GalleryIndexPath names.
#include <gtest/gtest.h>

#include <QAction>
#include <QUrl>
#include <QWidget>
#include <fstream>

#include "TempFolder.h"
#include "gallery/Gallery.h"
#include "net/FileUtil.h"
#include "sim/Simulator.h"
#include "support/UiTestSupport.h"
#include "ui/GalleryAction.h"

using namespace qm;
using namespace qm::uitest;

TEST(GalleryMenu, MakesThePagesOffTheGuiThreadAndOpensTheAlbumList) {
    test::TempFolder save("qm-ui-gallery-");
    const auto album = save.path() / "123456789" / "旅行照片";
    std::filesystem::create_directories(album);
    for (int i = 1; i <= 40; ++i)
        std::ofstream(album / ("p" + std::to_string(i) + ".jpg"), std::ios::binary)
            << sim::MakePictureBytes("p" + std::to_string(i), 3000, "jpg");
    std::ofstream(album / "pic.vyr") << "x";

    QWidget parent;
    QAction action(QStringLiteral("生成离线相册浏览页"), &parent);
    BoxRecorder boxes;
    boxes.answer = true;
    QUrl opened;
    ui::MakeGalleryInBackground(&parent, &action, QString::fromStdString(save.path().string()),
                                [&opened](const QUrl& u) { opened = u; });
    EXPECT_FALSE(action.isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return !opened.isEmpty(); }, 60000))
        << boxes.Texts().join("\n").toStdString();
    EXPECT_TRUE(action.isEnabled());
    const auto index = gallery::GalleryIndexPath(TextFromPath(save.path()), u"123456789");
    EXPECT_EQ(opened.toLocalFile().toStdString(), index.string());
    EXPECT_TRUE(std::filesystem::exists(index));
    ASSERT_EQ(boxes.Texts().size(), 1);
    EXPECT_TRUE(boxes.Texts()[0].contains(QStringLiteral("1 个相册，40 张图片")))
        << boxes.Texts()[0].toStdString();

    // A save folder with nothing of ours: said so, nothing opened, nothing written.
    test::TempFolder empty("qm-ui-gallery-");
    opened.clear();
    ui::MakeGalleryInBackground(&parent, &action, QString::fromStdString(empty.path().string()),
                                [&opened](const QUrl& u) { opened = u; });
    ASSERT_TRUE(WaitUntil([&] { return boxes.Texts().size() == 2; }, 60000));
    EXPECT_TRUE(boxes.Texts()[1].startsWith(QStringLiteral("保存路径里没有找到")))
        << boxes.Texts()[1].toStdString();
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(empty.Names().empty());
}

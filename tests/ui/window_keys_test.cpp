// The window as a person drives it with the keyboard, and how it looks: keys go through the
// window system to whatever has them (an open list or the focused box), disabled links are grey,
// the album table fits the window, Qt's own dialogs speak Chinese.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "support/UiTestSupport.h"
#include "ui/ComboBox2.h"
#include "ui/MyGridCtrl.h"
#include "ui/QtTranslations.h"

using namespace qm;
using namespace qm::ui;
using namespace qm::uitest;

namespace {

// A shown, active window whose "获取相册" only counts its presses (no job is started).
struct KeyWindow : WindowFixture {
    QPushButton* listButton = nullptr;
    std::unique_ptr<QSignalSpy> presses;

    KeyWindow() {
        listButton = qobject_cast<QPushButton*>(window->Control(Ctl::ListButton));
        QObject::disconnect(listButton, &QPushButton::clicked, window.get(), nullptr);
        presses = std::make_unique<QSignalSpy>(listButton, &QPushButton::clicked);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    // A key as the window system delivers it: shortcuts first, then an open popup or the focus.
    void Key(Qt::Key key) { QTest::keyClick(window->windowHandle(), key); }
    void Type(const QString& text) {
        for (QChar c : text) QTest::keyClick(window->windowHandle(), c.toLatin1());
    }
};

bool MatchesShown(CComboBox2* box) {
    return box->MatchList()->popup() && box->MatchList()->popup()->isVisible();
}

// Pixels of the label drawn in its palette's link colour.
int LinkColouredPixels(QWidget* link) {
    const QImage img = link->grab().toImage();
    const QColor linkColour = link->palette().color(QPalette::Active, QPalette::Link);
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (qAbs(c.red() - linkColour.red()) + qAbs(c.green() - linkColour.green()) +
                    qAbs(c.blue() - linkColour.blue()) < 40)
                ++n;
        }
    return n;
}

}  // namespace

TEST(WindowKeys, TypingGoesOnInTheBoxWhileTheHistoryShows) {
    KeyWindow k;
    for (CComboBox2* box : {k.window->TargetBox(), k.window->SaveBox()}) {
        SCOPED_TRACE(box->objectName().toStdString());
        box->ClearHistory();
        box->AddHistory("123456");
        box->AddHistory("/pics/456/");
        box->SetEditText("");
        box->lineEdit()->setFocus();
        QSignalSpy chosen(box, &CComboBox2::HistoryChosen);

        k.Type("4");
        ASSERT_TRUE(MatchesShown(box));
        EXPECT_EQ(box->MatchList()->completionCount(), 2);
        k.Type("56");
        EXPECT_EQ(box->EditText(), "456");  // the keys reached the box while the list showed
        EXPECT_TRUE(MatchesShown(box));
        // Return with nothing picked closes the list, keeps the typed text and lists at once.
        const int before = k.presses->count();
        k.Key(Qt::Key_Return);
        EXPECT_FALSE(MatchesShown(box));
        EXPECT_EQ(box->EditText(), "456");
        EXPECT_EQ(k.presses->count(), before + 1);
        EXPECT_EQ(chosen.count(), 0);

        // Escape closes an open list and nothing else.
        k.Type("x");
        k.Key(Qt::Key_Backspace);
        ASSERT_TRUE(MatchesShown(box));
        k.Key(Qt::Key_Escape);
        EXPECT_FALSE(MatchesShown(box));
        EXPECT_TRUE(k.window->isVisible());
        EXPECT_EQ(box->EditText(), "456");

        // Picking an entry with Down and Return takes it, still without pressing the button.
        k.Key(Qt::Key_Backspace);
        ASSERT_TRUE(MatchesShown(box));
        k.Key(Qt::Key_Down);
        k.Key(Qt::Key_Return);
        EXPECT_EQ(box->EditText(), "123456");
        EXPECT_EQ(chosen.count(), 1);
        EXPECT_EQ(k.presses->count(), before + 1);
    }
    // With no list open, Return presses the default button.
    const int before = k.presses->count();
    k.Key(Qt::Key_Return);
    EXPECT_EQ(k.presses->count(), before + 1);
}

TEST(WindowKeys, ReturnAndEscapeBelongToAnOpenDropDown) {
    KeyWindow k;
    QComboBox* kind = k.window->KindBox();
    kind->setFocus();
    kind->showPopup();
    ASSERT_TRUE(WaitUntil([&] { return kind->view()->isVisible(); }, 2000));
    k.Key(Qt::Key_Down);
    k.Key(Qt::Key_Return);
    EXPECT_FALSE(kind->view()->isVisible());
    EXPECT_EQ(kind->currentIndex(), 1);  // the list took the Return
    EXPECT_EQ(k.presses->count(), 0);

    kind->showPopup();
    ASSERT_TRUE(WaitUntil([&] { return kind->view()->isVisible(); }, 2000));
    k.Key(Qt::Key_Escape);
    EXPECT_FALSE(kind->view()->isVisible());
    EXPECT_TRUE(k.window->isVisible());

    // Nothing open: Enter presses "获取相册".
    k.Key(Qt::Key_Enter);
    EXPECT_EQ(k.presses->count(), 1);
}

TEST(WindowKeys, ClickOnListButtonWhileMatchesShow) {
    KeyWindow k;
    CComboBox2* box = k.window->TargetBox();
    box->ClearHistory();
    box->AddHistory("123456789");
    box->SetEditText("");
    box->lineEdit()->setFocus();
    k.Type("123456789");
    ASSERT_TRUE(MatchesShown(box));
    const QPoint at = k.listButton->mapTo(k.window.get(), k.listButton->rect().center());
    QTest::mouseClick(k.window->windowHandle(), Qt::LeftButton, {}, at);
    QCoreApplication::processEvents();
    EXPECT_FALSE(MatchesShown(box));
    EXPECT_EQ(k.presses->count(), 1);
}

// Escape is pressed to close lists, menus and small windows; wherever the focus is, it never
// closes the main window.
TEST(WindowKeys, EscapeNeverClosesTheWindow) {
    KeyWindow k;
    k.window->TargetBox()->lineEdit()->setFocus();
    k.Key(Qt::Key_Escape);
    k.window->Grid()->setFocus();
    k.Key(Qt::Key_Escape);
    k.window->OnFindLink();
    k.Key(Qt::Key_Escape);
    k.window->activateWindow();
    k.Key(Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_TRUE(k.window->isVisible());
}

// Closing while a download runs asks first; Yes stops the job and the window closes once it has
// wound down, No keeps everything as it was.
TEST(WindowClose, ClosingDuringADownloadAsksAndStopsTheJob) {
    KeyWindow k;
    BoxRecorder boxes;
    JobControl& job = k.window->State().downloadJob.control;
    ASSERT_TRUE(job.TryStart());  // a download in progress, as far as the window can tell

    boxes.answer = false;
    k.window->close();
    EXPECT_EQ(boxes.Texts(), QStringList{"正在下载，确定要退出吗？"});
    EXPECT_TRUE(k.window->isVisible());
    EXPECT_FALSE(job.StopRequested());

    boxes.answer = true;
    k.window->close();
    EXPECT_EQ(boxes.Texts().size(), 2);
    EXPECT_TRUE(job.StopRequested());
    WaitUntil([] { return false; }, 150);
    EXPECT_TRUE(k.window->isVisible());  // the job has not ended yet
    job.Finish();
    EXPECT_TRUE(WaitUntil([&] { return !k.window->isVisible(); }, 3000));
    EXPECT_EQ(boxes.Texts().size(), 2);  // asked once per close, not again while winding down
}

TEST(WindowLook, DisabledLinksAreDrawnGrey) {
    WindowFixture f;
    for (Ctl id : {Ctl::FindLink, Ctl::FilterLink, Ctl::ExportLink}) {
        QWidget* link = f.window->Control(id);
        link->resize(link->sizeHint());
        EXPECT_GT(LinkColouredPixels(link), 0);
        link->setEnabled(false);  // as while a list job runs
        EXPECT_EQ(LinkColouredPixels(link), 0);
        link->setEnabled(true);
        EXPECT_GT(LinkColouredPixels(link), 0);
    }
}

TEST(WindowLook, NameColumnTakesTheRestAndCountAndRemarkStayInSight) {
    WindowFixture f;
    CQuillmossDlg& w = *f.window;
    for (int i = 0; i < 40; ++i) {  // enough rows for a vertical scroll bar
        ST_PERLISTRECORD r;
        r.Name = u"一个名字相当长的相册，看它会不会把后面的列挤出去";
        r.PictureCount = 12;
        w.State().albums.AppendRecord(r);
        w.AddAlbumRow(i);
    }
    w.show();
    CMyGridCtrl* grid = w.Grid();
    QHeaderView* header = grid->horizontalHeader();
    for (QSize size : {w.minimumSize(), QSize(1400, 900)}) {
        SCOPED_TRACE(size.width());
        w.resize(size);
        ASSERT_TRUE(WaitUntil([&] { return w.size() == size; }, 2000));
        QCoreApplication::processEvents();
        const int right = header->sectionViewportPosition(3) + header->sectionSize(3);
        EXPECT_EQ(right, grid->viewport()->width());  // remark ends at the view's right edge
        EXPECT_FALSE(grid->horizontalScrollBar()->isVisible());
        EXPECT_EQ(header->sectionSize(0), 50);
        EXPECT_EQ(header->sectionSize(2), 50);
        EXPECT_EQ(header->sectionSize(3), 100);
        EXPECT_GT(header->sectionSize(1), 200);
    }
    // Thumbnail mode: equal columns, as many as the view holds, the name column no longer stretching.
    grid->ResetTable(true);
    EXPECT_EQ(grid->Model().columnCount(), CMyGridCtrl::ThumbsPerRowFor(grid->viewport()->width()));
    for (int c = 0; c < grid->Model().columnCount(); ++c)
        EXPECT_EQ(header->sectionSize(c), kThumbWidth + 2 * kCellMargin);
}

TEST(QtTexts, QtsOwnButtonsAreChinese) {
    ASSERT_TRUE(InstallQtTranslations(*QCoreApplication::instance()));
    QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Save);
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), "取消");
    EXPECT_EQ(box.button(QDialogButtonBox::Save)->text(), "保存");
}

// The main window: target and save-folder boxes, site and kind choices, the album table with its
// switches and links, the status lines and the menus. It owns the window's state (settings, album
// list, jobs) and the presenter of the jobs' events, starts the list and download jobs with
// requests built from its controls, and turns menu commands into settings changes, dialogs and
// login windows.
#pragma once

#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <QUrl>
#include <atomic>
#include <functional>
#include <map>
#include <thread>

#include "core/Outcome.h"
#include "ui/QtPresenter.h"
#include "ui/WindowState.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;

namespace qm::ui {

class CComboBox2;
class CDlgFind;
class CMyGridCtrl;
class CSplashScreenEx;
class DownloadProgressBar;
class DownloadResultDialog;

// Menu command numbers.
enum MenuId : int {
    kMenuSkipDownloaded = 32774,
    kMenuLargePictures = 32776,
    kMenuDownSet = 32778,
    kMenuSaveSet = 32779,
    kMenuLoginQZone = 32781,
    kMenuLoginWeibo = 32782,
    kMenuLoginCustom = 32795,
    kMenuLoginMode = 32796,
    kMenuFixOrder = 32799,
    kMenuFixFormat = 32800,
    kMenuListOnly = 32802,
    kMenuTitleList = 32804,
    kMenuFileTools = 32807,
    kMenuUsage = 32806,
    kMenuConsult = 32773,
    kMenuFeedback = 32772,
    kMenuAbout = 32775,
    kMenuMainPictures = 32808,
    kMenuImportStart = 32811,
    kMenuExportFile = 32809,
    kMenuExportList = 32810,
    kMenuOpenWhenDone = 32812,
    kMenuDescPictures = 32814,
    kMenuGalleryAfterDownload = 32830,
    kMenuKeepShootTime = 32815,  // kept in the extension settings file, not in soft.dat
};

struct WindowOptions {
    QString programFolder;    // empty: the current directory
    QString cacheFolder;      // holds the cover cache tmp/; empty: the program folder
    bool portable = true;     // false: the program folder is the user's configuration folder
    QString documentsFolder;  // empty: the user's Documents folder
    bool splash = true;       // show the splash while the start-up step runs
    bool showWhenReady = true;
    QString titleNote;  // appended to the window title (the demo says so here)
    // Opens addresses and folders instead of the desktop (tests record them here).
    std::function<void(const QUrl&)> openUrl;
    // The desktop's handler; false when nothing could open the address. Default QDesktopServices.
    std::function<bool(const QUrl&)> desktopOpen;
};

class CQuillmossDlg : public QMainWindow {
    Q_OBJECT
public:
    explicit CQuillmossDlg(WindowOptions options = {});
    ~CQuillmossDlg() override;

    WindowState& State() { return st_; }
    QtPresenter& Presenter() { return frontend_; }

    // Controls by number (nullptr for a number without a widget).
    QWidget* Control(Ctl id) const;
    CComboBox2* TargetBox() const { return target_; }
    CComboBox2* SaveBox() const { return save_; }
    QComboBox* SiteBox() const { return site_; }
    QComboBox* KindBox() const { return kind_; }
    CMyGridCtrl* Grid() const { return grid_; }
    QAction* MenuAction(int id) const;
    QMenu* SettingsMenu() const { return settingsMenu_; }
    CDlgFind* FindBar() const { return findBar_; }
    bool ThumbnailMode() const { return thumbnailMode_.load(); }
    bool LoginModeless() const { return loginModeless_; }
    // The bar beside the progress line (hidden while no download runs).
    DownloadProgressBar* ProgressBar() const { return progressBar_; }
    // True while a drop-down or a list of history matches is open: Return and Escape are its.
    bool ListOpen() const;

    // Shows the result box of a finished download (modeless, deleted when closed). "打开文件夹"
    // and "打开浏览页" (shown when `galleryPath` is given) open through OpenUrl; connect
    // DownloadResultDialog::RetryFailedRequested to start the retry.
    DownloadResultDialog* ShowDownloadResult(const JobOutcome& outcome, const QString& galleryPath = {});
    // Downloads again the pictures that failed in `outcome`'s albums (the archive knows which).
    void RetryFailed(const JobOutcome& outcome);
    // The offline gallery page of a finished download, when one was made; empty otherwise.
    QString GalleryPathFor(const JobOutcome& outcome) const;
    // The folder of the listed target inside the save folder (where its albums go).
    QString TargetFolder() const;
    // After a download (GUI thread): the result box when something is missing, the target's
    // folder when the option asks for it and no result box is shown, and the offline gallery.
    void DownloadEnded(const JobOutcome& outcome);
    // True while the offline gallery of the last download is being written.
    bool GalleryRunning() const { return galleryRunning_.load(); }

    // Button, box and link handlers (GUI thread).
    void OnListButton();
    void OnDownloadButton();
    void OnChooseFolder();
    void OnOpenFolder();
    void OnSelectAll(bool checked);
    void OnThumbnailBox(bool checked);
    void OnFindLink();
    void OnFilterLink();
    void OnExportLink();
    // "导出迅雷下载列表": the address lists of the chosen albums (as "只生成迅雷下载列表" writes
    // them), without downloading a picture.
    void ExportDownloadLists();
    void OnSiteChanged();
    void OnTargetEdited(const QString& text);
    // Takes the first of the dropped paths as the save folder.
    void DropPaths(const QStringList& paths);
    // Inverts an option bit of the current site (MainPicturesOnly and DescriptionPicturesOnly
    // exclude each other) and saves the settings at once.
    void ToggleFlag(uint16_t bit);
    // Applies a filter keyword: only albums whose name contains it are listed, until the next refill.
    // The chosen albums that stay in sight stay chosen. An empty keyword lifts a filter in force
    // (and does nothing when none is).
    void ApplyFilter(const QString& keyword);
    // The keyword of the filter in force (empty when every album is listed).
    QString ActiveFilter() const { return activeFilter_; }
    // The search bar's buttons: true when a row was found.
    bool SearchNext(bool forward);

    // AddAlbumRow: callable from any thread. Fetches the cover in thumbnail mode on the calling
    // thread, then adds the row on the GUI thread.
    void AddAlbumRow(int index);
    // Rebuilds the empty table for the current mode and clears "全选".
    void ResetTable();
    // Opens an address or a folder (the options' hook, else the desktop's handler). When nothing
    // can open it, says so with the address or path and offers to copy it.
    void OpenUrl(const QUrl& url);

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void BuildControls();
    void CreateControls(QWidget* central);
    void ArrangeControls(QWidget* central);
    void ConnectControls();
    void BuildMenus();
    void UpdateMenuStates();
    void InitialiseState();
    void StartStartupStep();
    void OnStartupDone(const QStringList& captions);
    void OpenDownSet();
    void OpenSaveSet();
    void OpenLogin(int id);
    void InsertRow(int index, int generation, bool thumbnails, const QImage& cover);
    void RefillOnThread();
    void WriteGallery(const Text& saveFolder, const Text& targetFolder);
    // Shows whether a filter is in force: the group title counts the rows shown, and "筛选"
    // reads "取消筛选" until the filter is lifted.
    void ShowFilterState();
    bool JobsIdle() const;
    void RequestStops();
    void JoinThreads();

    WindowOptions options_;
    QtPresenter frontend_;
    WindowState st_;

    std::thread thumbThread_;
    std::thread startupThread_;
    std::thread galleryThread_;
    std::atomic<bool> galleryRunning_{false};
    QPointer<DownloadResultDialog> resultBox_;
    QString activeFilter_;
    std::vector<int> carriedSelection_;  // albums chosen before a mode switch, chosen again after
    std::atomic<bool> thumbnailMode_{false};
    std::atomic<int> generation_{0};
    bool loginModeless_ = true;
    bool closeRequested_ = false;
    bool shownOnce_ = false;
    int listKey_ = 0;  // Return, Enter or Escape pressed while a list was open, until released

    QComboBox* site_ = nullptr;
    QComboBox* kind_ = nullptr;
    CComboBox2* target_ = nullptr;
    CComboBox2* save_ = nullptr;
    QPushButton* listButton_ = nullptr;
    QPushButton* downloadButton_ = nullptr;
    QPushButton* chooseButton_ = nullptr;
    QPushButton* openButton_ = nullptr;
    QLabel* saveLabel_ = nullptr;
    QGroupBox* group_ = nullptr;
    CMyGridCtrl* grid_ = nullptr;
    QCheckBox* selectAll_ = nullptr;
    QCheckBox* thumbs_ = nullptr;
    QLabel* findLink_ = nullptr;
    QLabel* filterLink_ = nullptr;
    QLabel* exportLink_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* progress_ = nullptr;
    DownloadProgressBar* progressBar_ = nullptr;
    QLabel* startupNotice_ = nullptr;
    QLabel* bottomNotice_ = nullptr;
    QLabel* updateLink_ = nullptr;
    QLabel* homeLink_ = nullptr;
    QMenu* settingsMenu_ = nullptr;
    QMenu* loginMenu_ = nullptr;
    CDlgFind* findBar_ = nullptr;
    CSplashScreenEx* splash_ = nullptr;
    std::map<int, QAction*> actions_;
};

}  // namespace qm::ui

#include "ui/QuillmossDlg.h"

#include "core/ExtSettings.h"

#include <QAbstractItemView>
#include <QAction>
#include <algorithm>
#include <type_traits>
#include <filesystem>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QKeyEvent>
#include <QShortcut>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include "core/Prompts.h"
#include "core/Settings.h"
#include "core/SiteCatalogue.h"
#include "gallery/Gallery.h"
#include "jobs/DownloadJob.h"
#include "jobs/ListJob.h"
#include "net/FileUtil.h"
#include "sites/Services.h"
#include "ui/AboutDlg.h"
#include "ui/ComboBox2.h"
#include "ui/CoverThumbnail.h"
#include "ui/CsvExport.h"
#include "ui/DlgDownSet.h"
#include "ui/DlgFind.h"
#include "ui/DlgSaveSet.h"
#include "ui/DownloadProgressBar.h"
#include "ui/DownloadResultDialog.h"
#include "ui/GalleryAction.h"
#include "ui/LinkLabel.h"
#include "ui/LoginLauncher.h"
#include "ui/MessageBox.h"
#include "ui/MyGridCtrl.h"
#include "ui/OutcomeTexts.h"
#include "ui/SaveFolderRules.h"
#include "ui/SplashScreenEx.h"

namespace qm::ui {

namespace {

QString Q(const Text& t) {
    return QString::fromStdU16String(t);
}
Text T(const QString& s) {
    return s.toStdU16String();
}

QLabel* MakeLine(QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText);
    l->setMinimumWidth(10);
    l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return l;
}

constexpr char16_t kStartupNotice[] =
    u"提示：输入QQ号、QQ群号或腾讯微博主页网址，点“获取相册”；选中相册后点“下载”。";
constexpr char16_t kSplashText[] = u"正在启动，请稍等...";

struct FlagItem {
    int id;
    uint16_t bit;
    const char16_t* text;
    bool checkedWhenClear = false;  // the entry turns a default on, so the bit means "off"
};
constexpr FlagItem kFlagItems[] = {
    {kMenuListOnly, SiteFlag::ListOnly, u"只生成迅雷下载列表"},
    {kMenuTitleList, SiteFlag::TitleListFile, u"生成图片原始名文件"},
    {kMenuFixOrder, SiteFlag::FixOrder, u"修正图片顺序"},
    {kMenuFixFormat, SiteFlag::FixFormat, u"修正图片格式"},
    {kMenuSkipDownloaded, SiteFlag::SkipDownloaded, u"不下载以前下载过的图片"},
    {kMenuOpenWhenDone, SiteFlag::OpenFolderWhenDone, u"下载完成后打开保存路径"},
    {kMenuGalleryAfterDownload, SiteFlag::NoGalleryAfterDownload, u"下载完成后生成离线相册浏览页", true},
    {kMenuMainPictures, SiteFlag::MainPicturesOnly, u"只下载宝贝(商品)主图"},
    {kMenuDescPictures, SiteFlag::DescriptionPicturesOnly, u"只下载宝贝(商品)描述里的图片"},
    {kMenuLargePictures, SiteFlag::LargePictures, u"又拍相册下载大图（不勾选为下载原图，下载原图速度更慢）"},
};

struct LoginItem {
    int id;
    const char16_t* text;
    const char16_t* url;
};
constexpr LoginItem kLoginItems[] = {
    {kMenuLoginQZone, u"QQ空间/QQ群", nullptr},
    {kMenuLoginWeibo, u"腾讯微博（登录时勾上下次自动登录）", u"http://t.qq.com/"},
    {32789, u"百度", u"https://passport.baidu.com/v2/?login"},
    {32790, u"网易", u"https://reg.163.com/"},
    {32791, u"人人", u"http://www.renren.com/"},
    {32792, u"又拍（下载器没弹窗提示你登录，就不要在这里登录）", u"https://www.yupoo.com/account/login/"},
    {32793, u"美空", u"http://www.moko.cc/jsps/common/login.jsp?url=http%3A%2F%2Fwww.moko.cc%2F"},
    {32794, u"新浪微博（登录时勾上下次自动登录）", u"https://weibo.com/login.php"},
    {32803, u"淘宝（强烈建议用小号登录）", u"https://login.taobao.com/member/login.jhtml"},
    {32813, u"56", u"http://user.56.com/login/"},
    {32815, u"虎扑", u"https://passport.hupu.com/login"},
    {kMenuLoginCustom, u"自定义登录", u"http://user.qzone.qq.com/"},
};

bool DigitsOnly(const QString& s) {
    if (s.isEmpty()) return false;
    for (QChar c : s)
        if (c < u'0' || c > u'9') return false;
    return true;
}

}  // namespace

// --- construction and start-up ----------------------------------------------------------------

CQuillmossDlg::CQuillmossDlg(WindowOptions options)
    : options_(std::move(options)), frontend_(this) {
    setObjectName(QStringLiteral("CQuillmossDlg"));
    setAcceptDrops(true);
    qApp->installEventFilter(this);  // Return and Escape that an open list took (see eventFilter)
    BuildControls();
    BuildMenus();
    InitialiseState();
    StartStartupStep();
}

CQuillmossDlg::~CQuillmossDlg() {
    frontend_.SetClosing();
    RequestStops();
    // The jobs wind down without waiting on this window (the front end answers at once now).
    JoinThreads();
    delete splash_;
}

void CQuillmossDlg::BuildControls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);
    CreateControls(central);
    ArrangeControls(central);
    ConnectControls();
    resize(900, 620);
    setMinimumSize(640, 420);
}

// The window's controls, named for the tests and the screenshot tour.
void CQuillmossDlg::CreateControls(QWidget* central) {
    site_ = new QComboBox(central);
    site_->setObjectName(QStringLiteral("siteChoice"));
    site_->setMinimumContentsLength(10);
    site_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    kind_ = new QComboBox(central);
    kind_->setObjectName(QStringLiteral("kindChoice"));
    target_ = new CComboBox2(central);
    target_->setObjectName(QStringLiteral("targetBox"));
    target_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    listButton_ = new QPushButton(QStringLiteral("获取相册"), central);
    listButton_->setObjectName(QStringLiteral("listButton"));
    listButton_->setDefault(true);
    downloadButton_ = new QPushButton(QStringLiteral("下载"), central);
    downloadButton_->setObjectName(QStringLiteral("downloadButton"));
    downloadButton_->setEnabled(false);
    for (QPushButton* b : {listButton_, downloadButton_}) b->setMinimumWidth(90);

    saveLabel_ = new QLabel(QStringLiteral("保存路径:"), central);
    save_ = new CComboBox2(central);
    save_->setObjectName(QStringLiteral("saveBox"));
    save_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    chooseButton_ = new QPushButton(QStringLiteral("设置"), central);
    openButton_ = new QPushButton(QStringLiteral("打开"), central);
    for (QPushButton* b : {chooseButton_, openButton_}) b->setMinimumWidth(90);

    group_ = new QGroupBox(QStringLiteral("相册列表"), central);
    grid_ = new CMyGridCtrl(group_);
    selectAll_ = new QCheckBox(QStringLiteral("全选"), group_);
    thumbs_ = new QCheckBox(QStringLiteral("预览图"), group_);
    findLink_ = new LinkLabel(QStringLiteral("查找"), group_);
    filterLink_ = new LinkLabel(QStringLiteral("筛选"), group_);
    exportLink_ = new LinkLabel(QStringLiteral("导出"), group_);

    status_ = MakeLine(central);
    status_->setObjectName(QStringLiteral("statusLine"));
    progress_ = MakeLine(central);
    progress_->setObjectName(QStringLiteral("progressLine"));
    progressBar_ = new DownloadProgressBar(central);
    startupNotice_ = MakeLine(central);
    startupNotice_->setStyleSheet(QStringLiteral("color: #555;"));
    bottomNotice_ = MakeLine(central);
    updateLink_ = new LinkLabel(QStringLiteral("程序有更新"), central);
    updateLink_->hide();
    homeLink_ = new LinkLabel(QStringLiteral("访问主页"), central);
    homeLink_->setEnabled(false);
}

// Two rows of choices, the album table with its switches and links, the status lines and notices.
void CQuillmossDlg::ArrangeControls(QWidget* central) {
    // Row 1: site, kind, target, the two job buttons.
    auto* row1 = new QHBoxLayout;
    row1->setSpacing(6);
    row1->addWidget(site_);
    row1->addSpacing(0);
    row1->addWidget(kind_);
    row1->addWidget(target_, 1);
    row1->addWidget(listButton_);
    row1->addWidget(downloadButton_);
    // Row 2: the save folder.
    auto* row2 = new QHBoxLayout;
    row2->setSpacing(6);
    row2->addWidget(saveLabel_);
    row2->addWidget(save_, 1);
    row2->addWidget(chooseButton_);
    row2->addWidget(openButton_);
    // The album table with its switches and links.
    auto* tools = new QHBoxLayout;
    tools->setSpacing(14);
    tools->addWidget(selectAll_);
    tools->addWidget(thumbs_);
    tools->addStretch();
    tools->addWidget(findLink_);
    tools->addWidget(filterLink_);
    tools->addWidget(exportLink_);
    auto* groupLayout = new QVBoxLayout(group_);
    groupLayout->setContentsMargins(8, 8, 8, 8);
    groupLayout->addLayout(tools);
    groupLayout->addWidget(grid_, 1);
    // Status lines and notices.
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(status_, 1);
    statusRow->addWidget(progress_, 1);
    statusRow->addWidget(progressBar_);
    auto* bottomRow = new QHBoxLayout;
    bottomRow->addWidget(bottomNotice_, 1);
    bottomRow->addWidget(updateLink_);
    bottomRow->addWidget(homeLink_);

    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(10, 8, 10, 6);
    layout->setSpacing(6);
    layout->addLayout(row1);
    layout->addLayout(row2);
    layout->addWidget(group_, 1);
    layout->addLayout(statusRow);
    layout->addWidget(startupNotice_);
    layout->addLayout(bottomRow);
}

void CQuillmossDlg::ConnectControls() {
    connect(listButton_, &QPushButton::clicked, this, &CQuillmossDlg::OnListButton);
    connect(downloadButton_, &QPushButton::clicked, this, &CQuillmossDlg::OnDownloadButton);
    connect(chooseButton_, &QPushButton::clicked, this, &CQuillmossDlg::OnChooseFolder);
    connect(openButton_, &QPushButton::clicked, this, &CQuillmossDlg::OnOpenFolder);
    connect(selectAll_, &QCheckBox::clicked, this, &CQuillmossDlg::OnSelectAll);
    connect(thumbs_, &QCheckBox::clicked, this, &CQuillmossDlg::OnThumbnailBox);
    connect(findLink_, &QLabel::linkActivated, this, &CQuillmossDlg::OnFindLink);
    connect(filterLink_, &QLabel::linkActivated, this, &CQuillmossDlg::OnFilterLink);
    connect(exportLink_, &QLabel::linkActivated, this, &CQuillmossDlg::OnExportLink);
    connect(homeLink_, &QLabel::linkActivated, this, [this] { OpenUrl(QUrl(Q(HomePageAddress()))); });
    connect(updateLink_, &QLabel::linkActivated, this, [this] { OpenUrl(QUrl(Q(HomePageAddress()))); });
    connect(site_, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { OnSiteChanged(); });
    connect(kind_, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [](int) {});
    connect(target_, &CComboBox2::EditChanged, this, &CQuillmossDlg::OnTargetEdited);
    connect(target_, &CComboBox2::HistoryChosen, this, &CQuillmossDlg::OnTargetEdited);
    connect(target_, &QComboBox::editTextChanged, this,
            [](const QString&) {});
    connect(save_, &QComboBox::editTextChanged, this,
            [](const QString&) {});
}

void CQuillmossDlg::BuildMenus() {
    QMenuBar* bar = menuBar();
    auto add = [this](QMenu* menu, int id, const QString& text, bool checkable = false) {
        QAction* a = menu->addAction(text);
        a->setCheckable(checkable);
        actions_[id] = a;
        return a;
    };

    // Each menu has a mnemonic (Alt and its letter), and F10 opens the first, as desktops expect.
    loginMenu_ = bar->addMenu(QStringLiteral("登录(&L)"));
    QAction* mode = add(loginMenu_, kMenuLoginMode,
                        QStringLiteral("登录方式1（如果登录失败，可勾选该项后再登录）"), true);
    connect(mode, &QAction::triggered, this, [this] { loginModeless_ = !loginModeless_; });
    loginMenu_->addSeparator();
    for (const LoginItem& item : kLoginItems) {
        QAction* a = add(loginMenu_, item.id, QString::fromUtf16(item.text));
        // Only the QQ Zone family is fetched by this version: the other services' logins are grey.
        const bool used = item.id == kMenuLoginQZone || item.id == kMenuLoginWeibo || item.id == kMenuLoginCustom;
        a->setEnabled(used);
        connect(a, &QAction::triggered, this, [this, id = item.id] { OpenLogin(id); });
    }

    settingsMenu_ = bar->addMenu(QStringLiteral("设置(&S)"));
    connect(add(settingsMenu_, kMenuDownSet, QStringLiteral("下载参数设置")), &QAction::triggered, this,
            &CQuillmossDlg::OpenDownSet);
    connect(add(settingsMenu_, kMenuSaveSet, QStringLiteral("文件名设置")), &QAction::triggered, this,
            &CQuillmossDlg::OpenSaveSet);
    settingsMenu_->addSeparator();
    for (const FlagItem& item : kFlagItems) {
        if (item.id == kMenuMainPictures || item.id == kMenuLargePictures) settingsMenu_->addSeparator();
        QAction* a = add(settingsMenu_, item.id, QString::fromUtf16(item.text), true);
        connect(a, &QAction::triggered, this, [this, bit = item.bit] { ToggleFlag(bit); });
        if (item.id == kMenuFixFormat) {
            // Saved in the extension settings file; FixOrder, when on, still sets its own times.
            QAction* keep = add(settingsMenu_, kMenuKeepShootTime, QStringLiteral("保留拍摄时间"), true);
            connect(keep, &QAction::triggered, this, [this](bool on) {
                if (const auto error =
                        WriteExtSetting(st_.programFolder, kDownloadSection, kKeepShootTimeKey, on ? u"1" : u"0"))
                    ShowMessageBox(this, QStringLiteral("设置无法保存：") + QString::fromStdString(*error));
                UpdateMenuStates();
            });
        }
    }

    QMenu* io = bar->addMenu(QStringLiteral("导入/导出(&I)"));
    // A download file is not a format of this version: those two entries stay grey. The list
    // for a download manager is what "只生成迅雷下载列表" writes, here for the chosen albums.
    add(io, kMenuImportStart, QStringLiteral("导入下载文件并开始下载"))->setEnabled(false);
    add(io, kMenuExportFile, QStringLiteral("导出下载文件"))->setEnabled(false);
    connect(add(io, kMenuExportList, QStringLiteral("导出迅雷下载列表")), &QAction::triggered, this,
            &CQuillmossDlg::ExportDownloadLists);

    QMenu* tools = bar->addMenu(QStringLiteral("辅助功能(&T)"));
    connect(add(tools, kMenuFileTools, QStringLiteral("文件处理")), &QAction::triggered, this,
            [this] { OpenUrl(QUrl(Q(HelpAddress(kMenuFileTools)))); });
    QAction* gallery = tools->addAction(QStringLiteral("生成离线相册浏览页"));
    connect(gallery, &QAction::triggered, this, [this, gallery] {
        MakeGalleryInBackground(this, gallery, save_->EditText(), [this](const QUrl& u) { OpenUrl(u); });
    });

    QMenu* help = bar->addMenu(QStringLiteral("帮助(&H)"));
    for (auto [id, text] : {std::pair{kMenuUsage, u"使用说明"}, std::pair{kMenuConsult, u"软件咨询"},
                            std::pair{kMenuFeedback, u"问题反馈"}}) {
        connect(add(help, id, QString::fromUtf16(text)), &QAction::triggered, this,
                [this, id = id] { OpenUrl(QUrl(Q(HelpAddress(id)))); });
    }
    help->addSeparator();
    connect(add(help, kMenuAbout, QStringLiteral("版本信息")), &QAction::triggered, this, [this] {
        CAboutDlg about(this);
        about.exec();
    });

    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(f10, &QShortcut::activated, this, [this] {
        menuBar()->setFocus(Qt::MenuBarFocusReason);
        menuBar()->setActiveAction(loginMenu_->menuAction());
    });

    connect(settingsMenu_, &QMenu::aboutToShow, this, &CQuillmossDlg::UpdateMenuStates);
    connect(loginMenu_, &QMenu::aboutToShow, this, &CQuillmossDlg::UpdateMenuStates);
}

void CQuillmossDlg::UpdateMenuStates() {
    uint16_t flags;
    int site;
    {
        std::lock_guard<std::mutex> lock(st_.settingsMutex);
        site = st_.currentSite;
        flags = st_.settings.profile[static_cast<std::size_t>(site)].SiteFlags;
    }
    for (const FlagItem& item : kFlagItems)
        actions_[item.id]->setChecked(((flags & item.bit) != 0) != item.checkedWhenClear);
    actions_[kMenuLoginMode]->setChecked(loginModeless_);
    actions_[kMenuKeepShootTime]->setChecked(ReadExtSettings(st_.programFolder).KeepShootTime);
    actions_[kMenuLargePictures]->setEnabled(site == 7);
    actions_[kMenuMainPictures]->setEnabled(site == 11 || site == 16);
    actions_[kMenuDescPictures]->setEnabled(site == 11 || site == 16);
}

void CQuillmossDlg::InitialiseState() {
    QString title = QStringLiteral("Quillmoss 相册下载器");
    if (!options_.titleNote.isEmpty()) title += QStringLiteral(" — ") + options_.titleNote;
    setWindowTitle(title);
    startupNotice_->setText(QString::fromUtf16(kStartupNotice));
    grid_->ResetTable(false);

    // A short text on the clipboard is taken as the target.
    if (QClipboard* cb = QGuiApplication::clipboard()) {
        const QString clip = ClipboardTarget(cb->text());
        if (!clip.isEmpty()) target_->SetEditText(clip);
    }

    const QString cwd = options_.programFolder.isEmpty() ? QDir::currentPath() : options_.programFolder;
    const QString programFolder = WithSeparator(QDir::toNativeSeparators(cwd));
    st_.programFolder = T(programFolder);
    st_.cacheFolder = options_.cacheFolder.isEmpty() ? st_.programFolder
                                                     : T(WithSeparator(QDir::toNativeSeparators(options_.cacheFolder)));
    QString documents = options_.documentsFolder;
    if (documents.isEmpty()) documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    // A program folder of the user's configuration is no place for pictures: save under Documents.
    documents = QDir::toNativeSeparators(documents);
    const QString saveFolder = options_.portable || documents.isEmpty()
                                   ? DefaultSaveFolder(programFolder, documents)
                                   : WithSeparator(WithSeparator(documents) + QString::fromUtf16(kProductFolderName));
    // The folder is made by the first download that uses it, not at start-up.
    save_->SetEditText(saveFolder);

    LoadSettings(st_);
    target_->ClearHistory();
    for (const Text& t : RecentEntries(st_, 0)) target_->AddHistory(Q(t));
    save_->ClearHistory();
    const std::vector<Text> saves = RecentEntries(st_, 1);
    for (const Text& t : saves) save_->AddHistory(Q(t));
    {
        std::lock_guard<std::mutex> lock(st_.settingsMutex);
        const Text newest = FieldText(st_.settings.RecentSavePaths[0]);
        if (!newest.empty()) save_->SetEditText(Q(newest));
    }
    homeLink_->setEnabled(true);
}

void CQuillmossDlg::StartStartupStep() {
    if (options_.splash) {
        splash_ = new CSplashScreenEx(QString::fromUtf16(kSplashText));
        splash_->FadeIn();
    }
    startupThread_ = std::thread([this] {
        // The captions of the site choice (compiled in; no network call at start).
        QStringList captions;
        for (int i = 0; i < kSiteCount; ++i) captions << Q(SiteCaption(i));
        QMetaObject::invokeMethod(
            this, [this, captions] { OnStartupDone(captions); }, Qt::QueuedConnection);
    });
}

void CQuillmossDlg::OnStartupDone(const QStringList& captions) {
    site_->blockSignals(true);
    site_->clear();
    site_->addItems(captions);
    site_->setCurrentIndex(0);
    site_->blockSignals(false);
    OnSiteChanged();
    OnTargetEdited(target_->EditText());
    st_.WindowReady = 1;
    auto reveal = [this] {
        if (options_.showWhenReady && !closeRequested_) show();
    };
    if (splash_) {
        CSplashScreenEx* s = splash_;
        splash_ = nullptr;
        s->FadeOutAndClose(reveal);
    } else {
        reveal();
    }
}

// --- site and kind choice ---------------------------------------------------------------------

void CQuillmossDlg::OnSiteChanged() {
    {
        std::lock_guard<std::mutex> lock(st_.settingsMutex);
        st_.currentSite = 0;
    }
    if (site_->currentIndex() != 0) {
        kind_->hide();
    } else {
        kind_->blockSignals(true);
        kind_->clear();
        for (const Service& s : Services()) kind_->addItem(QString::fromUtf16(s.caption));
        kind_->setCurrentIndex(0);
        kind_->blockSignals(false);
        kind_->show();
    }
}

void CQuillmossDlg::OnTargetEdited(const QString& text) {
    if (site_->count() == 0) return;
    const auto r = DetectSite(T(text), site_->currentIndex());
    if (!r) return;
    site_->blockSignals(true);
    site_->setCurrentIndex(r->site);
    site_->blockSignals(false);
    OnSiteChanged();
    if (r->site == 0) {
        const auto services = Services();
        const Service& named = ServiceOfAddress(T(text));
        for (std::size_t i = 0; i < services.size(); ++i)
            if (services[i].kind == named.kind) kind_->setCurrentIndex(static_cast<int>(i));
    }
}

// --- jobs ---------------------------------------------------------------------------------------

void CQuillmossDlg::OnListButton() {
    if (st_.WindowReady.load() != 1) return;
    if (st_.listJob.Running()) {
        st_.listJob.control.RequestStop();
        return;
    }
    if (site_->currentIndex() > 0) {
        // The catalogue names more services than this version fetches; say so instead of an
        // empty list.
        const QString text = QStringLiteral("此版本不支持“%1”，只能下载QQ空间、QQ群和腾讯微博的相册。")
                                 .arg(site_->currentText());
        status_->setText(text);
        ShowMessageBox(this, text);
        return;
    }
    // A running mode switch is stopped; its late rows are dropped by the table reset.
    uint8_t expected = 1;
    st_.ThumbJobState.compare_exchange_strong(expected, 2);
    ResetTable();
    grid_->Model().ClearImages();
    grid_->ClearCountTexts();
    st_.albums.Clear();
    activeFilter_.clear();
    ShowFilterState();
    {
        std::lock_guard<std::mutex> lock(st_.settingsMutex);
        st_.currentSite = 0;
    }

    ListRequest request;
    request.target = T(target_->EditText());
    request.kindChosen = !kind_->isHidden();
    const auto services = Services();
    request.kind = services[std::clamp<std::size_t>(static_cast<std::size_t>(std::max(kind_->currentIndex(), 0)), 0,
                                                    services.size() - 1)]
                       .kind;
    const Text programFolder = st_.programFolder;
    const auto press = st_.listJob.PressButton([this, request, programFolder] {
        RunListJob(request, frontend_, st_.listJob.control, programFolder);
    });
    if (press == JobRunner::Press::Failed) ShowMessageBox(this, QStringLiteral("Create thread:GetListFunc failed."));
}

void CQuillmossDlg::OnDownloadButton() {
    if (st_.downloadJob.Running() || downloadButton_->text() == QStringLiteral("终止下载")) {
        // The button still reads "终止下载" until the end of the job has been shown: a press
        // then stops nothing, and the status line says that the download had already finished.
        frontend_.NoteStopPressed();
        st_.downloadJob.control.RequestStop();
        return;
    }
    if (galleryRunning_.load()) return;  // the last download's gallery is still being written
    frontend_.ResetStopPressed();
    DownloadRequest request;
    request.list = st_.list;
    request.list.albums = st_.albums.Snapshot();
    request.albums = grid_->SelectedAlbums(static_cast<int>(request.list.albums.size()));
    request.saveFolder = T(save_->EditText());
    request.settings = st_.Snapshot();
    request.programFolder = st_.programFolder;
    const auto press = st_.downloadJob.PressButton(
        [this, request] { RunDownloadJob(request, frontend_, st_.downloadJob.control); });
    if (press == JobRunner::Press::Failed)
        ShowMessageBox(this, QStringLiteral("Create thread:GetListFunc failed."));
}

void CQuillmossDlg::ExportDownloadLists() {
    if (st_.downloadJob.Running() || st_.listJob.Running()) return;
    DownloadRequest request;
    request.list = st_.list;
    request.list.albums = st_.albums.Snapshot();
    request.albums = grid_->SelectedAlbums(static_cast<int>(request.list.albums.size()));
    if (request.albums.empty()) {
        ShowMessageBox(this, QStringLiteral("请先选中要导出下载列表的相册"));
        return;
    }
    request.saveFolder = T(save_->EditText());
    request.settings = st_.Snapshot();
    request.settings.profile.SiteFlags |= SiteFlag::ListOnly;  // lists only, whatever the switch says
    request.programFolder = st_.programFolder;
    frontend_.ResetStopPressed();
    st_.downloadJob.PressButton([this, request] { RunDownloadJob(request, frontend_, st_.downloadJob.control); });
}

void CQuillmossDlg::ResetTable() {
    ++generation_;
    selectAll_->setChecked(false);
    grid_->ResetTable(thumbnailMode_.load());
}

void CQuillmossDlg::AddAlbumRow(int index) {
    if (index < 0) return;
    const int generation = generation_.load();
    const bool thumbnails = thumbnailMode_.load();
    QImage cover;
    if (thumbnails) {
        const auto rec = st_.albums.Get(static_cast<std::size_t>(index));
        if (rec && rec->ThumbIndex < 0) cover = LoadCover(st_.cacheFolder, index, rec->CoverUrl);
    }
    if (QThread::currentThread() == thread()) {
        InsertRow(index, generation, thumbnails, cover);
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, index, generation, thumbnails, cover] { InsertRow(index, generation, thumbnails, cover); },
        Qt::QueuedConnection);
}

void CQuillmossDlg::InsertRow(int index, int generation, bool thumbnails, const QImage& cover) {
    if (generation != generation_.load() || thumbnails != grid_->ThumbnailMode()) return;
    const auto rec = st_.albums.Get(static_cast<std::size_t>(index));
    if (!rec) return;
    if (!thumbnails) {
        if (st_.filterText.empty() || rec->Name.find(st_.filterText) != Text::npos)
            grid_->AddListRow(index, *rec);
        return;
    }
    int image = rec->ThumbIndex;
    if (!cover.isNull()) {
        image = grid_->Model().AddImage(cover);
        st_.albums.SetThumbIndex(static_cast<std::size_t>(index), image);
    }
    grid_->SetThumbCell(index, *rec, image);
}

void CQuillmossDlg::OnSelectAll(bool checked) {
    if (checked)
        grid_->SelectAllAlbums();
    else
        grid_->ClearAlbumSelection();
}

void CQuillmossDlg::OnThumbnailBox(bool checked) {
    if (st_.ThumbJobState.load() != 0) {
        // A switch is still running: the box keeps its state; Yes asks the switch to stop.
        thumbs_->setChecked(!checked);
        if (AskYesNoBox(this, QStringLiteral("模式转换未完成,是否中断?"), QStringLiteral("提示"))) {
            uint8_t expected = 1;
            st_.ThumbJobState.compare_exchange_strong(expected, 2);
        }
        return;
    }
    if (checked && findBar_) findBar_->hide();
    findLink_->setEnabled(!checked);
    filterLink_->setEnabled(!checked);
    // The albums chosen in one view stay chosen in the other.
    carriedSelection_ = grid_->SelectedAlbums(static_cast<int>(st_.albums.Count()));
    st_.ThumbJobState = 1;
    thumbnailMode_ = checked;
    ResetTable();
    activeFilter_.clear();
    ShowFilterState();
    if (thumbThread_.joinable()) thumbThread_.join();  // the previous switch has ended
    try {
        thumbThread_ = std::thread([this] { RefillOnThread(); });
    } catch (const std::system_error&) {
        st_.ThumbJobState = 0;
    }
}

// RefillTable for a mode switch: every album in list order, a display refresh after every 10,
// stopped early by a stop request.
void CQuillmossDlg::RefillOnThread() {
    const std::size_t count = st_.albums.Count();
    for (std::size_t i = 0; i < count; ++i) {
        if (st_.ThumbJobState.load() == 2) break;
        AddAlbumRow(static_cast<int>(i));
        if ((i + 1) % 10 == 0) frontend_.RefreshTable();
    }
    frontend_.RefreshTable();
    QMetaObject::invokeMethod(
        this,
        [this] {
            st_.filterText.clear();
            grid_->SelectAlbums(carriedSelection_);
            carriedSelection_.clear();
        },
        Qt::QueuedConnection);
    st_.ThumbJobState = 0;
}

void CQuillmossDlg::ApplyFilter(const QString& keyword) {
    if (keyword.isEmpty() && activeFilter_.isEmpty()) return;  // nothing to lift; keep the selection
    const std::size_t count = st_.albums.Count();
    const std::vector<int> chosen = grid_->SelectedAlbums(static_cast<int>(count));
    st_.filterText = T(keyword);
    ResetTable();
    // RefillTable at once on this thread: only albums whose name holds the keyword are listed.
    for (std::size_t i = 0; i < count; ++i) AddAlbumRow(static_cast<int>(i));
    st_.filterText.clear();
    activeFilter_ = keyword;
    grid_->SelectAlbums(chosen);
    ShowFilterState();
}

void CQuillmossDlg::ShowFilterState() {
    static_cast<LinkLabel*>(filterLink_)->SetCaption(activeFilter_.isEmpty() ? QStringLiteral("筛选")
                                                                              : QStringLiteral("取消筛选"));
    const int count = static_cast<int>(st_.albums.Count());
    if (st_.listJob.Running() || count == 0) return;  // the list job owns the title meanwhile
    QString title = QStringLiteral("相册列表(共%1个)").arg(count);
    if (!activeFilter_.isEmpty())
        title = QStringLiteral("相册列表(共%1个，筛选“%2”，显示%3个)").arg(count).arg(activeFilter_).arg(grid_->RowCount());
    group_->setTitle(title);
}

// --- links --------------------------------------------------------------------------------------

void CQuillmossDlg::OnFindLink() {
    if (!findBar_) {
        findBar_ = new CDlgFind(CDlgFind::Mode::Search, this);
        connect(findBar_, &CDlgFind::FindNext, this, [this] { SearchNext(true); });
        connect(findBar_, &CDlgFind::FindPrevious, this, [this] { SearchNext(false); });
    }
    findBar_->adjustSize();
    findBar_->move(geometry().center() - findBar_->rect().center());
    findBar_->show();
    findBar_->raise();
    // A tool window is not activated by showing it: without this, typed text went nowhere.
    findBar_->activateWindow();
    findBar_->KeywordEdit()->setFocus();
    findBar_->KeywordEdit()->selectAll();
}

bool CQuillmossDlg::SearchNext(bool forward) {
    if (!findBar_) return false;
    const QString keyword = findBar_->Keyword();
    if (keyword.isEmpty()) {
        ShowMessageBox(findBar_, QStringLiteral("关键字不能为空"));
        return false;
    }
    const bool ignoreCase = !findBar_->CaseSensitive();
    const bool whole = findBar_->WholeCell();
    const int focus = grid_->FocusRow();
    if (grid_->FindInTable(focus, keyword, forward, ignoreCase, whole)) return true;
    // Not found on this side: search again from the first (or the last) album row.
    return grid_->FindInTable(forward ? -1 : grid_->RowCount(), keyword, forward, ignoreCase, whole);
}

void CQuillmossDlg::OnFilterLink() {
    if (findBar_) findBar_->hide();
    if (!activeFilter_.isEmpty()) {  // the link reads "取消筛选": every album again
        ApplyFilter(QString());
        return;
    }
    CDlgFind dlg(CDlgFind::Mode::Filter, this);
    dlg.adjustSize();
    dlg.move(geometry().center() - dlg.rect().center());
    if (dlg.exec() != QDialog::Accepted) return;
    ApplyFilter(dlg.Keyword());
}

void CQuillmossDlg::OnExportLink() {
    if (grid_->RowCount() == 0 || grid_->CellData(0, 0) < 0) {
        ShowMessageBox(this, QStringLiteral("相册列表是空的，没有可导出的内容"));
        return;
    }
    ExportCsv(this, *grid_);
}

// --- save folder --------------------------------------------------------------------------------

void CQuillmossDlg::OnChooseFolder() {
    QFileDialog dialog(this, QStringLiteral("请选择文件保存目录："), save_->EditText());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString folder = WithSeparator(QDir::toNativeSeparators(dialog.selectedFiles().first()));
    if (folder.isEmpty()) return;
    save_->SetEditText(folder);
    if (AddRecent(st_, 1, T(folder))) {
        save_->AddHistory(folder);
        SaveSettings(st_);
    }
}

void CQuillmossDlg::OnOpenFolder() {
    QString folder;
    const Text current = frontend_.CurrentAlbumFolder();
    if (!current.empty())
        folder = Q(current);  // the album in progress
    else
        folder = QString::fromStdU16String(Trim(T(save_->EditText())));
    if (!folder.isEmpty()) OpenUrl(QUrl::fromLocalFile(folder));
}

void CQuillmossDlg::DropPaths(const QStringList& paths) {
    if (paths.isEmpty()) return;
    const QString folder = DroppedSaveFolder(QDir::toNativeSeparators(paths.first()));
    if (folder.isEmpty()) return;
    save_->SetEditText(folder);
    if (AddRecent(st_, 1, T(folder))) {
        save_->AddHistory(folder);
        SaveSettings(st_);
    }
}

void CQuillmossDlg::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void CQuillmossDlg::dropEvent(QDropEvent* e) {
    QStringList paths;
    for (const QUrl& u : e->mimeData()->urls())
        if (u.isLocalFile()) paths << u.toLocalFile();
    DropPaths(paths);
    e->acceptProposedAction();
}

// --- menus ----------------------------------------------------------------------------------------

void CQuillmossDlg::ToggleFlag(uint16_t bit) {
    {
        std::lock_guard<std::mutex> lock(st_.settingsMutex);
        uint16_t& flags = st_.settings.profile[static_cast<std::size_t>(st_.currentSite)].SiteFlags;
        flags ^= bit;
        if (bit == SiteFlag::MainPicturesOnly && (flags & SiteFlag::MainPicturesOnly))
            flags &= static_cast<uint16_t>(~SiteFlag::DescriptionPicturesOnly);
        if (bit == SiteFlag::DescriptionPicturesOnly && (flags & SiteFlag::DescriptionPicturesOnly))
            flags &= static_cast<uint16_t>(~SiteFlag::MainPicturesOnly);
    }
    SaveSettings(st_);
    UpdateMenuStates();
}

namespace {

// Shows `Dialog` over a copy of the current site's part of the settings (`partOf` picks it); when
// the user accepts, `keep` puts the edited copy into the stored part under the settings lock, and
// the settings are saved.
template <typename Dialog, typename PartOf, typename Keep>
void EditSitePart(SettingsStore& st, QWidget* parent, PartOf partOf, Keep keep) {
    std::size_t site;
    std::remove_reference_t<decltype(partOf(st.settings, 0))> part;
    {
        std::lock_guard<std::mutex> lock(st.settingsMutex);
        site = static_cast<std::size_t>(st.currentSite);
        part = partOf(st.settings, site);
    }
    Dialog dlg(part, parent);
    if (dlg.exec() != QDialog::Accepted) return;
    {
        std::lock_guard<std::mutex> lock(st.settingsMutex);
        keep(partOf(st.settings, site), part);
    }
    SaveSettings(st);
}

}  // namespace

void CQuillmossDlg::OpenDownSet() {
    EditSitePart<CDlgDownSet>(
        st_, this, [](SettingsBlock& s, std::size_t site) -> DownParam& { return s.down[site]; },
        [](DownParam& stored, const DownParam& edited) { stored = edited; });
}

void CQuillmossDlg::OpenSaveSet() {
    EditSitePart<CDlgSaveSet>(
        st_, this, [](SettingsBlock& s, std::size_t site) -> SiteProfile& { return s.profile[site]; },
        [](SiteProfile& stored, const SiteProfile& edited) {
            // Only the naming fields belong to the dialog; the option flags may have changed meanwhile.
            const uint16_t flags = stored.SiteFlags;
            stored = edited;
            stored.SiteFlags = flags;
        });
}

void CQuillmossDlg::OpenLogin(int id) {
    QString url;
    if (id == kMenuLoginQZone) {
        url = QString::fromUtf16(ServiceOf(TargetKind::QZone).loginAddress);
        const QString typed = Q(Trim(T(target_->EditText())));
        if (DigitsOnly(typed) && !kind_->isHidden() && kind_->currentIndex() == 0) url += typed;
    } else {
        for (const LoginItem& item : kLoginItems)
            if (item.id == id && item.url) url = QString::fromUtf16(item.url);
    }
    OpenLoginWindow(this, url, !loginModeless_);
}

void CQuillmossDlg::OpenUrl(const QUrl& url) {
    if (options_.openUrl) {
        options_.openUrl(url);
        return;
    }
    const bool opened = options_.desktopOpen ? options_.desktopOpen(url) : QDesktopServices::openUrl(url);
    if (opened) return;
    const QString where = url.isLocalFile() ? QDir::toNativeSeparators(url.toLocalFile()) : url.toString();
    const QString what = url.isLocalFile() ? QStringLiteral("没有可以打开它的程序") : QStringLiteral("没有可以打开它的浏览器");
    if (AskYesNoBox(this, QStringLiteral("无法打开（%1）：\n%2\n\n要把它复制到剪贴板吗？").arg(what, where)))
        if (QClipboard* cb = QGuiApplication::clipboard()) cb->setText(where);
}

QAction* CQuillmossDlg::MenuAction(int id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

QWidget* CQuillmossDlg::Control(Ctl id) const {
    switch (id) {
        case Ctl::SaveFolder:
            return save_;
        case Ctl::Target:
            return target_;
        case Ctl::SiteChoice:
            return site_;
        case Ctl::AlbumTable:
            return grid_;
        case Ctl::ListButton:
            return listButton_;
        case Ctl::DownloadButton:
            return downloadButton_;
        case Ctl::Progress:
            return progress_;
        case Ctl::ChooseFolder:
            return chooseButton_;
        case Ctl::OpenFolder:
            return openButton_;
        case Ctl::Status:
            return status_;
        case Ctl::AlbumGroup:
            return group_;
        case Ctl::SelectAll:
            return selectAll_;
        case Ctl::StartupNotice:
            return startupNotice_;
        case Ctl::Thumbnails:
            return thumbs_;
        case Ctl::UpdateLink:
            return updateLink_;
        case Ctl::BottomNotice:
            return bottomNotice_;
        case Ctl::HomeLink:
            return homeLink_;
        case Ctl::FindLink:
            return findLink_;
        case Ctl::KindChoice:
            return kind_;
        case Ctl::FilterLink:
            return filterLink_;
        case Ctl::ExportLink:
            return exportLink_;
    }
    return nullptr;
}

// --- keys and results ---------------------------------------------------------------------------

bool CQuillmossDlg::ListOpen() const {
    if (QApplication::activePopupWidget()) return true;
    for (const QComboBox* box : {static_cast<const QComboBox*>(site_), static_cast<const QComboBox*>(kind_)})
        if (box->view() && box->view()->isVisible()) return true;
    return target_->ListOpen() || save_->ListOpen();
}

namespace {
bool WindowKey(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}
}  // namespace

// A drop-down list acts on Return and Escape when it is offered the key as a shortcut, closes,
// and lets the same key press travel on to the focused box and up to this window. Remember a key
// that began while a list was open, so that its press is not taken a second time by the window.
bool CQuillmossDlg::eventFilter(QObject* watched, QEvent* e) {
    const QEvent::Type type = e->type();
    if (type == QEvent::ShortcutOverride || type == QEvent::KeyPress || type == QEvent::KeyRelease) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (WindowKey(key)) {
            const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
            const bool unpicked = target_->MatchesOpenUnpicked() || save_->MatchesOpenUnpicked();
            if (type == QEvent::KeyRelease)
                listKey_ = 0;
            else if (ListOpen() && !(enter && unpicked))
                listKey_ = key;
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

// Keys that no control used. An open list keeps its own keys (its Return picks an entry, its
// Escape closes it), so Return acts on the window only while no list is open: it presses the
// default button "获取相册". Escape never closes the main window: it is pressed to close lists,
// menus and small windows, and a stray one must not end a download.
void CQuillmossDlg::keyPressEvent(QKeyEvent* e) {
    const int key = e->key();
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    const bool escape = key == Qt::Key_Escape;
    const bool modified = (e->modifiers() & ~Qt::KeyboardModifiers(Qt::KeypadModifier)).toInt() != 0;
    if ((!enter && !escape) || modified) {
        QMainWindow::keyPressEvent(e);
        return;
    }
    e->accept();
    if (ListOpen() || listKey_ == key) return;
    if (enter && listButton_->isEnabled()) listButton_->click();
}

DownloadResultDialog* CQuillmossDlg::ShowDownloadResult(const JobOutcome& outcome, const QString& galleryPath) {
    auto* dlg = new DownloadResultDialog(outcome, this);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->SetGalleryPath(galleryPath);
    dlg->SetTargetFolder(TargetFolder());
    resultBox_ = dlg;
    connect(dlg, &DownloadResultDialog::OpenFolderRequested, this,
            [this](const QString& folder) { OpenUrl(QUrl::fromLocalFile(folder)); });
    connect(dlg, &DownloadResultDialog::OpenGalleryRequested, this,
            [this](const QString& path) { OpenUrl(QUrl::fromLocalFile(path)); });
    connect(dlg, &DownloadResultDialog::RetryFailedRequested, this, [this, dlg] { RetryFailed(dlg->Outcome()); });
    dlg->show();
    return dlg;
}

void CQuillmossDlg::RetryFailed(const JobOutcome& outcome) {
    if (st_.downloadJob.Running()) return;
    DownloadRequest request;
    request.list = st_.list;
    request.list.albums = st_.albums.Snapshot();
    for (const AlbumOutcome& a : outcome.albums)
        if (a.failed > 0 && a.index >= 0) request.albums.push_back(a.index);
    if (request.albums.empty()) return;
    request.retryFailed = true;
    frontend_.ResetStopPressed();
    request.saveFolder = T(save_->EditText());
    request.settings = st_.Snapshot();
    request.programFolder = st_.programFolder;
    st_.downloadJob.PressButton([this, request] { RunDownloadJob(request, frontend_, st_.downloadJob.control); });
}

QString CQuillmossDlg::TargetFolder() const {
    const Text save = Trim(T(save_->EditText()));
    if (save.empty() || st_.list.targetFolder.empty()) return {};
    std::filesystem::path folder = PathFromText(save) / PathFromText(st_.list.targetFolder);
    if (!st_.list.targetSubFolder.empty()) folder /= PathFromText(st_.list.targetSubFolder);
    return Q(TextFromPath(folder.lexically_normal()));
}

void CQuillmossDlg::DownloadEnded(const JobOutcome& outcome) {
    const bool box = NeedsResultBox(outcome);
    if (box) ShowDownloadResult(outcome, GalleryPathFor(outcome));
    // The option opens the target's folder, which holds every album of the download; with a
    // result box shown, its "打开文件夹" does that instead of a window over the box.
    if (!outcome.openFolder.empty() && !box) {
        const QString folder = TargetFolder();
        OpenUrl(QUrl::fromLocalFile(folder.isEmpty() ? Q(outcome.openFolder) : folder));
    }
    uint16_t flags;
    {
        std::lock_guard<std::mutex> lock(st_.settingsMutex);
        flags = st_.settings.profile[static_cast<std::size_t>(st_.currentSite)].SiteFlags;
    }
    std::size_t saved = 0;
    for (const AlbumOutcome& a : outcome.albums) {
        saved += a.saved + a.alreadyHad;
        if (a.HasPosts()) grid_->SetCountText(a.index, MoodCountText(a));
    }
    if ((flags & SiteFlag::NoGalleryAfterDownload) || outcome.error != JobError::None || saved == 0) return;
    WriteGallery(Trim(T(save_->EditText())), st_.list.targetFolder + u"/" + st_.list.targetSubFolder);
}

// The offline gallery of the target, written on its own thread from what is on disk now; the
// result box (when still open) offers the page once it is there.
void CQuillmossDlg::WriteGallery(const Text& saveFolder, const Text& targetFolder) {
    if (galleryRunning_.exchange(true)) return;
    if (galleryThread_.joinable()) galleryThread_.join();  // the previous one has ended
    progress_->setText(QStringLiteral("正在生成离线相册浏览页..."));
    try {
        galleryThread_ = std::thread([this, saveFolder, targetFolder] {
            const gallery::GalleryReport report = gallery::BuildGallery(saveFolder, targetFolder);
            QString page;
            if (!report.targets.empty()) page = Q(TextFromPath(report.targets.front().index));
            const bool failed = !report.errors.empty();
            QMetaObject::invokeMethod(
                this,
                [this, page, failed] {
                    progress_->setText(failed ? QStringLiteral("离线相册浏览页有文件无法写入") : QString());
                    if (resultBox_ && !page.isEmpty()) resultBox_->SetGalleryPath(page);
                },
                Qt::QueuedConnection);
            galleryRunning_ = false;
        });
    } catch (const std::system_error&) {
        galleryRunning_ = false;
        progress_->clear();
    }
}

QString CQuillmossDlg::GalleryPathFor(const JobOutcome&) const {
    const std::filesystem::path index =
        gallery::GalleryIndexPath(Trim(T(save_->EditText())), st_.list.targetFolder + u"/" + st_.list.targetSubFolder);
    std::error_code ec;
    return std::filesystem::is_regular_file(index, ec) ? Q(TextFromPath(index)) : QString();
}

// --- closing ------------------------------------------------------------------------------------

bool CQuillmossDlg::JobsIdle() const {
    return !st_.listJob.Running() && !st_.downloadJob.Running() && st_.ThumbJobState.load() == 0 &&
           !galleryRunning_.load();
}

void CQuillmossDlg::RequestStops() {
    st_.listJob.control.RequestStop();
    st_.downloadJob.control.RequestStop();
    uint8_t thumb = 1;
    st_.ThumbJobState.compare_exchange_strong(thumb, 2);
}

void CQuillmossDlg::JoinThreads() {
    for (std::thread* t : {&startupThread_, &thumbThread_, &galleryThread_})
        if (t->joinable()) t->join();
    st_.listJob.Join();
    st_.downloadJob.Join();
}

void CQuillmossDlg::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    // The keyboard starts in the target box: typing a number and Return is the usual start.
    if (!shownOnce_) {
        shownOnce_ = true;
        target_->lineEdit()->setFocus();
    }
}

void CQuillmossDlg::closeEvent(QCloseEvent* e) {
    if (!closeRequested_ && st_.downloadJob.Running() &&
        !AskYesNoBox(this, QStringLiteral("正在下载，确定要退出吗？"))) {
        e->ignore();
        return;
    }
    closeRequested_ = true;
    if (findBar_) findBar_->hide();
    if (!JobsIdle()) {
        // Running jobs are asked to stop; the window closes once they have wound down. Until then
        // the event loop keeps running, so a job's last calls are still answered.
        frontend_.SetClosing();
        RequestStops();
        e->ignore();
        QTimer::singleShot(50, this, [this] { close(); });
        return;
    }
    JoinThreads();
    e->accept();
}

}  // namespace qm::ui

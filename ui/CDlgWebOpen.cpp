#include "ui/CDlgWebOpen.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include "net/CookieStore.h"
#include "ui/BrowserCookieBridge.h"
#include "ui/BrowserEnvironment.h"

namespace qm::ui {

namespace {

constexpr int kMargin = 7;  // around the address row
constexpr int kGap = 5;     // between the address box and "打开"
constexpr int kRowGap = 4;  // between the label and the box, and under the row
// 470 x 381 dialog units in the dialog font's base units (6 x 13 pixels).
constexpr int kWidth = 470 * 6 / 4;
constexpr int kHeight = 381 * 13 / 8;

}  // namespace

void CExplorer1::Navigate(const QString& address) {
    const QString text = address.trimmed();
    if (text.isEmpty()) return;
    const QUrl url = QUrl::fromUserInput(BrowserAddress(text));
    if (url.isValid()) load(url);
}

CDlgWebOpen::CDlgWebOpen(const QString& startAddress, QWidget* owner, CookieStore* store)
    : QDialog(owner), startAddress_(startAddress) {
    setWindowTitle(QStringLiteral("登录成功后手动关闭对话框"));
    setObjectName(QStringLiteral("CDlgWebOpen"));
    setSizeGripEnabled(false);

    label_ = new QLabel(QStringLiteral("网址："), this);
    address_ = new QLineEdit(this);
    address_->setObjectName(QStringLiteral("address"));  // 1001
    open_ = new QPushButton(QStringLiteral("打开"), this);
    open_->setObjectName(QStringLiteral("open"));  // 1026
    open_->setAutoDefault(false);

    // A profile without a storage name is off the record: nothing of the browser's own is kept on
    // disk; the cookie store is the one place logins are kept.
    profile_ = new QWebEngineProfile(this);
    profile_->setHttpAcceptLanguage(QStringLiteral("zh-CN,zh;q=0.9"));
    bridge_ =
        new BrowserCookieBridge(profile_->cookieStore(), store ? *store : CookieStore::Instance(), this);
    browser_ = new CExplorer1(this);
    browser_->setObjectName(QStringLiteral("browser"));  // 1025
    browser_->setPage(new QWebEnginePage(profile_, browser_));

    connect(open_, &QPushButton::clicked, this, &CDlgWebOpen::OnOpen);
    connect(address_, &QLineEdit::returnPressed, this, &CDlgWebOpen::OnOpen);
    // The address row follows the page (a redirect, a link, a login form's next page).
    connect(browser_, &QWebEngineView::urlChanged, this, [this](const QUrl& url) {
        if (!url.isEmpty() && !address_->hasFocus()) address_->setText(url.toString());
    });

    resize(kWidth, kHeight);
    Arrange();

    if (!startAddress_.isEmpty()) {
        address_->setText(startAddress_);
        browser_->Navigate(startAddress_);
    } else if (const QClipboard* clip = QGuiApplication::clipboard()) {
        address_->setText(clip->text(QClipboard::Clipboard));
    }
}

CDlgWebOpen::~CDlgWebOpen() {
    // The page must go before its profile, and no cookie change of a closing browser may reach
    // the store.
    bridge_->Detach();
    delete browser_;
    browser_ = nullptr;
    delete profile_;
    profile_ = nullptr;
}

void CDlgWebOpen::OnOpen() {
    browser_->Navigate(address_->text());
}

void CDlgWebOpen::Arrange() {
    const int w = width();
    const int rowHeight = std::max(address_->sizeHint().height(), open_->sizeHint().height());
    const int labelWidth = label_->sizeHint().width();
    const int buttonWidth = std::max(open_->sizeHint().width(), 75);
    const int buttonX = w - kMargin - buttonWidth;
    label_->setGeometry(kMargin, kMargin, labelWidth, rowHeight);
    const int boxX = kMargin + labelWidth + kRowGap;
    address_->setGeometry(boxX, kMargin, std::max(buttonX - kGap - boxX, 0), rowHeight);
    open_->setGeometry(buttonX, kMargin, buttonWidth, rowHeight);
    const int top = kMargin + rowHeight + kRowGap;
    browser_->setGeometry(0, top, w, std::max(height() - top, 0));
}

void CDlgWebOpen::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    Arrange();
}

void CDlgWebOpen::keyPressEvent(QKeyEvent* e) {
    // Escape closes the window as its close box does; Enter (also when the page leaves it
    // unhandled) does not end it. Enter in the address box opens the address.
    switch (e->key()) {
        case Qt::Key_Escape:
            e->accept();
            reject();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            e->accept();
            return;
        default:
            QDialog::keyPressEvent(e);
    }
}

}  // namespace qm::ui

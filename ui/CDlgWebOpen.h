// The login window "登录成功后手动关闭对话框": an embedded browser (CExplorer1) under an address row
// ("网址：", the address box, "打开"). The user logs in to a site as in any browser and closes the
// window by its close box. The browser runs on a private, off-the-record profile of its own whose
// cookies are bridged to the HTTP client's cookie store (see BrowserCookieBridge).
#pragma once

#include <QDialog>
#include <QString>
#include <QWebEngineView>

class QLabel;
class QLineEdit;
class QPushButton;
class QWebEngineProfile;

namespace qm {
class CookieStore;
}

namespace qm::ui {

class BrowserCookieBridge;

// The browser control of the login window. Only navigation is used.
class CExplorer1 : public QWebEngineView {
    Q_OBJECT
public:
    using QWebEngineView::QWebEngineView;
    // Opens an address as typed (a bare host gets http://); an empty text does nothing.
    void Navigate(const QString& address);
};

class CDlgWebOpen : public QDialog {
    Q_OBJECT
public:
    // Seeds the browser from `store` (the process-wide store by default) and, when `startAddress`
    // is not empty, shows it in the address box and navigates there at once; otherwise the
    // clipboard's text goes into the box and nothing is loaded until "打开".
    explicit CDlgWebOpen(const QString& startAddress, QWidget* owner = nullptr, CookieStore* store = nullptr);
    ~CDlgWebOpen() override;

    const QString& StartAddress() const { return startAddress_; }
    CExplorer1* Browser() const { return browser_; }
    QLineEdit* AddressBox() const { return address_; }
    QPushButton* OpenButton() const { return open_; }
    QWebEngineProfile* Profile() const { return profile_; }

    // Button "打开": navigates to the address box's text.
    void OnOpen();

protected:
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void Arrange();

    QString startAddress_;
    QWebEngineProfile* profile_ = nullptr;
    BrowserCookieBridge* bridge_ = nullptr;
    QLabel* label_ = nullptr;
    QLineEdit* address_ = nullptr;
    QPushButton* open_ = nullptr;
    CExplorer1* browser_ = nullptr;
};

}  // namespace qm::ui

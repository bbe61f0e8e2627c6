// Keeps the login browser's cookies and the HTTP client's cookie store as one: the browser profile
// is seeded from the store when the bridge is made, and every cookie the browser then receives or
// drops goes into the store at once (which persists it), so a fetch made while the login window is
// still open already carries the login.
#pragma once

#include <QMetaObject>
#include <QNetworkCookie>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include "net/CookieStore.h"

class QWebEngineCookieStore;

namespace qm::ui {

// Conversions between the two cookie forms. A browser cookie whose domain starts with a dot is a
// domain cookie; one without a dot is host-only (the browser reports host-only cookies that way).
Cookie CookieFromBrowser(const QNetworkCookie& c);
QNetworkCookie CookieForBrowser(const Cookie& c);
// The origin a cookie is handed to the browser with (https for secure cookies).
QUrl CookieOrigin(const Cookie& c);

class BrowserCookieBridge : public QObject {
    Q_OBJECT
public:
    BrowserCookieBridge(QWebEngineCookieStore* browser, CookieStore& store, QObject* parent = nullptr);
    ~BrowserCookieBridge() override;

    // Stops passing changes on (before the browser profile goes away).
    void Detach();

private:
    void OnAdded(const QNetworkCookie& cookie);
    void OnRemoved(const QNetworkCookie& cookie);

    QPointer<QWebEngineCookieStore> browser_;
    CookieStore& store_;
    QMetaObject::Connection added_, removed_;
};

}  // namespace qm::ui

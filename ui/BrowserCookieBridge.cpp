#include "ui/BrowserCookieBridge.h"

#include <QDateTime>
#include <QWebEngineCookieStore>

namespace qm::ui {

Cookie CookieFromBrowser(const QNetworkCookie& c) {
    Cookie out;
    out.name = c.name().toStdString();
    out.value = c.value().toStdString();
    QString domain = c.domain().trimmed().toLower();
    out.hostOnly = !domain.startsWith(QLatin1Char('.'));
    while (domain.startsWith(QLatin1Char('.'))) domain.remove(0, 1);
    out.domain = domain.toStdString();
    out.path = c.path().isEmpty() ? std::string("/") : c.path().toStdString();
    if (!c.isSessionCookie()) {
        // A cookie that expires at or before 1970 is an expired one; keep it non-zero so the
        // store treats it as a removal rather than as a session cookie.
        const qint64 secs = c.expirationDate().toSecsSinceEpoch();
        out.expires = secs > 0 ? secs : 1;
    }
    out.secure = c.isSecure();
    out.httpOnly = c.isHttpOnly();
    return out;
}

QNetworkCookie CookieForBrowser(const Cookie& c) {
    QNetworkCookie out(QByteArray::fromStdString(c.name), QByteArray::fromStdString(c.value));
    // Without a domain the browser takes the cookie as host-only for the origin's host.
    if (!c.hostOnly) out.setDomain(QLatin1Char('.') + QString::fromStdString(c.domain));
    out.setPath(QString::fromStdString(c.path.empty() ? std::string("/") : c.path));
    if (c.expires > 0) out.setExpirationDate(QDateTime::fromSecsSinceEpoch(c.expires, Qt::UTC));
    out.setSecure(c.secure);
    out.setHttpOnly(c.httpOnly);
    return out;
}

QUrl CookieOrigin(const Cookie& c) {
    QUrl url;
    url.setScheme(c.secure ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(QString::fromStdString(c.domain));
    url.setPath(QStringLiteral("/"));
    return url;
}

BrowserCookieBridge::BrowserCookieBridge(QWebEngineCookieStore* browser, CookieStore& store, QObject* parent)
    : QObject(parent), browser_(browser), store_(store) {
    if (!browser) return;
    for (const Cookie& c : store_.List()) {
        if (c.name.empty() || c.domain.empty()) continue;
        browser->setCookie(CookieForBrowser(c), CookieOrigin(c));
    }
    // Queued by the web engine already; direct here keeps the order in which it reports changes
    // (an overwritten cookie is reported removed, then added).
    added_ = connect(browser, &QWebEngineCookieStore::cookieAdded, this, &BrowserCookieBridge::OnAdded);
    removed_ = connect(browser, &QWebEngineCookieStore::cookieRemoved, this, &BrowserCookieBridge::OnRemoved);
}

BrowserCookieBridge::~BrowserCookieBridge() {
    Detach();
}

void BrowserCookieBridge::Detach() {
    disconnect(added_);
    disconnect(removed_);
}

void BrowserCookieBridge::OnAdded(const QNetworkCookie& cookie) {
    Cookie c = CookieFromBrowser(cookie);
    if (c.name.empty() || c.domain.empty()) return;
    store_.Add(std::move(c));  // an expiry in the past removes it
}

void BrowserCookieBridge::OnRemoved(const QNetworkCookie& cookie) {
    const Cookie c = CookieFromBrowser(cookie);
    if (c.name.empty() || c.domain.empty()) return;
    store_.Remove(c.name, c.domain, c.path);
}

}  // namespace qm::ui

#include "ui/LoginScreenshot.h"

#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWebEnginePage>
#include <cstdio>
#include <memory>

#include "ui/CDlgWebOpen.h"
#include "ui/LoginLauncher.h"

namespace qm::ui {

namespace {

constexpr int kStepMs = 200;
constexpr int kLimitMs = 30000;

// True when the browser area of the grab shows the page: a white background with dark text. A
// grab taken right after loading can still be blank.
bool PageDrawn(const QImage& img, const QRect& area) {
    int dark = 0, light = 0;
    for (int y = area.top(); y < area.bottom(); y += 2) {
        for (int x = area.left(); x < area.right(); x += 2) {
            const int v = qGray(img.pixel(x, y));
            if (v < 80) ++dark;
            if (v > 240) ++light;
        }
    }
    return dark > 50 && light > area.width() * area.height() / 16;
}

}  // namespace

void SaveLoginWindowShot(QWidget* owner, const QString& dir, std::function<void()> done) {
    OpenLoginWindow(
        owner,
        QStringLiteral("http://xui.ptlogin2.qq.com/cgi-bin/xlogin?s_url=http%3A%2F%2Fuser.qzone.qq.com%2F"),
        false);
    QPointer<CDlgWebOpen> dlg = ModelessLoginWindow();
    if (!dlg) {
        done();
        return;
    }
    auto filled = std::make_shared<bool>(false);
    auto waited = std::make_shared<int>(0);
    auto sinceFill = std::make_shared<int>(0);
    QObject::connect(dlg->Browser(), &QWebEngineView::loadFinished, dlg, [dlg, filled](bool ok) {
        if (!ok || *filled || !dlg) return;
        *filled = true;
        dlg->Browser()->page()->runJavaScript(
            QStringLiteral("var u = document.getElementById('u'); if (u) u.value = '20001234';"
                           "var r = document.getElementById('remember'); if (r) r.checked = true;"));
    });
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, dlg, filled, waited, sinceFill, dir, done] {
        *waited += kStepMs;
        bool finished = !dlg || *waited >= kLimitMs;
        if (*filled) ++*sinceFill;
        if (!finished && *sinceFill >= 3) {  // the filled-in form drawn too
            const QImage img = dlg->grab().toImage();
            if (PageDrawn(img, dlg->Browser()->geometry().intersected(img.rect()))) {
                const QString path = dir + QStringLiteral("/login-window.png");
                const bool ok = img.save(path);
                std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
                finished = true;
            }
        }
        if (!finished) return;
        if (*waited >= kLimitMs)
            std::printf("FAILED %s/login-window.png (page not drawn)\n", qPrintable(dir));
        timer->stop();
        timer->deleteLater();
        if (dlg) dlg->close();
        done();
    });
    timer->start(kStepMs);
}

}  // namespace qm::ui

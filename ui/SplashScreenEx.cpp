#include "ui/SplashScreenEx.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScreen>

namespace qm::ui {

CSplashScreenEx::CSplashScreenEx(const QString& text) : QWidget(nullptr), text_(text) {
    setObjectName(QStringLiteral("SplashScreenExClass"));
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint | Qt::Tool | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(321, 210);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

namespace {
// Window animation needs a platform that can set a window's opacity.
bool CanFade() {
    const QString p = QGuiApplication::platformName();
    return p != QLatin1String("offscreen") && p != QLatin1String("minimal");
}
}  // namespace

void CSplashScreenEx::FadeIn() {
    if (!CanFade()) {
        show();
        return;
    }
    setWindowOpacity(0.0);
    show();
    fade_ = new QPropertyAnimation(this, "windowOpacity", this);
    fade_->setDuration(500);
    fade_->setStartValue(0.0);
    fade_->setEndValue(1.0);
    fade_->start();
}

void CSplashScreenEx::FadeOutAndClose(std::function<void()> done) {
    if (!CanFade()) {
        hide();
        if (done) done();
        deleteLater();
        return;
    }
    auto fadeOut = [this, done = std::move(done)] {
        auto* out = new QPropertyAnimation(this, "windowOpacity", this);
        out->setDuration(200);
        out->setStartValue(windowOpacity());
        out->setEndValue(0.0);
        connect(out, &QPropertyAnimation::finished, this, [this, done] {
            hide();
            if (done) done();
            deleteLater();
        });
        out->start();
    };
    if (fade_ && fade_->state() == QAbstractAnimation::Running)
        connect(fade_, &QPropertyAnimation::finished, this, fadeOut);
    else
        fadeOut();
}

void CSplashScreenEx::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 18, 18);
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0.0, QColor(0x3A, 0x7B, 0xD5));
    g.setColorAt(1.0, QColor(0x1D, 0x4E, 0x9E));
    p.fillPath(shape, g);
    QFont title = font();
    title.setPointSize(16);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(30, 14, 261, 36), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Quillmoss"));
    QFont body = font();
    body.setPointSize(10);
    p.setFont(body);
    p.drawText(QRect(QPoint(30, 50), QPoint(291, 160)), Qt::AlignVCenter | Qt::TextWordWrap, text_);
}

}  // namespace qm::ui

// The start-up splash: a borderless window centred on the screen with one white text, faded in
// over 500 ms and out over 200 ms.
#pragma once

#include <QWidget>
#include <functional>

class QPropertyAnimation;

namespace qm::ui {

class CSplashScreenEx : public QWidget {
    Q_OBJECT
public:
    explicit CSplashScreenEx(const QString& text);

    void FadeIn();
    // Fades out (after the fade-in has finished), then calls `done` and deletes itself.
    void FadeOutAndClose(std::function<void()> done);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QString text_;
    QPropertyAnimation* fade_ = nullptr;
};

}  // namespace qm::ui

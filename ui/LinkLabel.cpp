#include "ui/LinkLabel.h"

#include <QEvent>

namespace qm::ui {

LinkLabel::LinkLabel(const QString& caption, QWidget* parent) : QLabel(parent), caption_(caption) {
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    Render();
}

void LinkLabel::changeEvent(QEvent* e) {
    QLabel::changeEvent(e);
    if (e->type() == QEvent::EnabledChange) Render();
}

void LinkLabel::Render() {
    if (isEnabled()) {
        setTextFormat(Qt::RichText);
        setText(QStringLiteral("<a href=\"#\">%1</a>").arg(caption_.toHtmlEscaped()));
        setCursor(Qt::PointingHandCursor);
    } else {
        // Plain text is drawn in the palette's disabled colour.
        setTextFormat(Qt::PlainText);
        setText(caption_);
        unsetCursor();
    }
}

}  // namespace qm::ui

// A link drawn as a label: underlined in the link colour while enabled, and in the greyed text
// colour, without underline, while disabled (a rich-text link keeps its colour otherwise).
#pragma once

#include <QLabel>

namespace qm::ui {

class LinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit LinkLabel(const QString& caption, QWidget* parent = nullptr);

    const QString& Caption() const { return caption_; }
    void SetCaption(const QString& caption) {
        caption_ = caption;
        Render();
    }

protected:
    void changeEvent(QEvent* e) override;

private:
    void Render();

    QString caption_;
};

}  // namespace qm::ui

// The download-parameter dialog: thread count, time-out and the picture size limits of one site.
// The record is changed only when "确 定" accepts valid values.
#pragma once

#include <QDialog>

#include "core/SettingsBlock.h"

class QLineEdit;
class QPushButton;

namespace qm::ui {

// Reads an edit's text as a signed decimal number the way the dialog does: leading blanks, an
// optional sign, then digits; anything else ends the number, no digits read as 0.
int ParseSignedInt(const QString& text);

class CDlgDownSet : public QDialog {
    Q_OBJECT
public:
    CDlgDownSet(DownParam& param, QWidget* parent = nullptr);

    QLineEdit* ThreadEdit() const { return threads_; }
    QLineEdit* TimeoutEdit() const { return timeout_; }
    QLineEdit* MinEdit() const { return min_; }
    QLineEdit* MaxEdit() const { return max_; }
    QPushButton* OkButton() const { return ok_; }

private:
    void OnOk();

    DownParam& param_;
    QLineEdit* threads_;
    QLineEdit* timeout_;
    QLineEdit* min_;
    QLineEdit* max_;
    QPushButton* ok_;
};

}  // namespace qm::ui

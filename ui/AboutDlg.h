// The About box: the product, its version line and a short note; "确定" closes it.
#pragma once

#include <QDialog>

namespace qm::ui {

inline constexpr char16_t kVersionLine[] = u"版本号：16.09.23.01";

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace qm::ui

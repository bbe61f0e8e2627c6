// The About box: the product, its version line and a short note; "确定" closes it.
#pragma once

#include <QDialog>

namespace qm::ui {

// "版本号：" and the version every program prints with --version.
QString VersionLine();

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace qm::ui

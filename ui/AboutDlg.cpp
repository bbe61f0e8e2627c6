#include "ui/AboutDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "qm/Version.h"

namespace qm::ui {

QString VersionLine() {
    return QStringLiteral("版本号：") + QStringLiteral(QM_VERSION);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("关于"));
    setObjectName(QStringLiteral("aboutDlg"));
    auto* name = new QLabel(QStringLiteral("Quillmoss 相册下载器"), this);
    QFont f = name->font();
    f.setPointSize(f.pointSize() + 3);
    f.setBold(true);
    name->setFont(f);
    auto* version = new QLabel(VersionLine(), this);
    version->setObjectName(QStringLiteral("versionLine"));
    auto* note = new QLabel(QStringLiteral("下载QQ空间、QQ群与腾讯微博的整本相册。"), this);
    note->setObjectName(QStringLiteral("noteLine"));
    note->setWordWrap(true);
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    // The program's icon (the application's window icon) beside the texts.
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setPixmap(windowIcon().pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->addWidget(name);
    texts->addWidget(version);
    texts->addWidget(note);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    layout->addLayout(row);
    setMinimumWidth(320);
}

}  // namespace qm::ui

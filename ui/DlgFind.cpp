#include "ui/DlgFind.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "net/StringCtrl.h"

namespace qm::ui {

CDlgFind::CDlgFind(Mode mode, QWidget* parent) : QDialog(parent), mode_(mode) {
    setObjectName(mode == Mode::Search ? QStringLiteral("findBar") : QStringLiteral("filterBar"));
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setWindowTitle(mode == Mode::Search ? QStringLiteral("相册搜索") : QStringLiteral("筛选"));

    title_ = new QLabel(QStringLiteral("相册搜索"), this);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    close_ = new QPushButton(QStringLiteral("×"), this);
    close_->setFixedSize(24, 22);
    close_->setFlat(true);
    close_->setAutoDefault(false);

    keyword_ = new QLineEdit(this);
    keyword_->setMinimumWidth(180);
    case_ = new QCheckBox(QStringLiteral("区分大小写"), this);
    whole_ = new QCheckBox(QStringLiteral("全字匹配"), this);
    prev_ = new QPushButton(QStringLiteral("上一个"), this);
    next_ = new QPushButton(mode == Mode::Search ? QStringLiteral("下一个") : QStringLiteral("筛选"), this);
    prev_->setAutoDefault(false);
    next_->setDefault(true);

    auto* top = new QHBoxLayout;
    top->addWidget(title_);
    top->addStretch();
    top->addWidget(close_);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("关键字:"), this));
    row->addWidget(keyword_, 1);
    row->addWidget(prev_);
    row->addWidget(next_);
    auto* options = new QHBoxLayout;
    options->addWidget(case_);
    options->addWidget(whole_);
    options->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 6, 6, 10);
    layout->addLayout(top);
    layout->addLayout(row);
    layout->addLayout(options);

    if (mode == Mode::Filter) {
        // Only the keyword, "筛选" (take it) and "×" (cancel).
        title_->setText(QStringLiteral("筛选"));
        case_->hide();
        whole_->hide();
        prev_->hide();
        connect(next_, &QPushButton::clicked, this, &QDialog::accept);
        connect(close_, &QPushButton::clicked, this, &QDialog::reject);
    } else {
        connect(next_, &QPushButton::clicked, this, &CDlgFind::FindNext);
        connect(prev_, &QPushButton::clicked, this, &CDlgFind::FindPrevious);
        connect(close_, &QPushButton::clicked, this, &QWidget::hide);
    }
    adjustSize();
    // Typing goes to the keyword as soon as the bar or the dialog shows.
    setFocusProxy(keyword_);
    keyword_->setFocus();
}

QString CDlgFind::Keyword() const {
    return QString::fromStdU16String(Trim(keyword_->text().toStdU16String()));
}

bool CDlgFind::CaseSensitive() const {
    return case_->isChecked();
}

bool CDlgFind::WholeCell() const {
    return whole_->isChecked();
}

void CDlgFind::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        dragging_ = true;
        dragOffset_ = e->globalPosition().toPoint() - frameGeometry().topLeft();
        e->accept();
        return;
    }
    QDialog::mousePressEvent(e);
}

void CDlgFind::mouseMoveEvent(QMouseEvent* e) {
    if (dragging_ && (e->buttons() & Qt::LeftButton)) {
        move(e->globalPosition().toPoint() - dragOffset_);
        e->accept();
        return;
    }
    QDialog::mouseMoveEvent(e);
}

void CDlgFind::mouseReleaseEvent(QMouseEvent* e) {
    dragging_ = false;
    QDialog::mouseReleaseEvent(e);
}

void CDlgFind::paintEvent(QPaintEvent* e) {
    QDialog::paintEvent(e);
    QPainter p(this);
    p.setPen(palette().mid().color());
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace qm::ui

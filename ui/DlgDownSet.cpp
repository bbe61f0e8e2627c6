#include "ui/DlgDownSet.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <climits>

#include "ui/MessageBox.h"

namespace qm::ui {

int ParseSignedInt(const QString& text) {
    int i = 0;
    const int n = static_cast<int>(text.size());
    while (i < n && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = false;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    long long value = 0;
    while (i < n && text[i] >= u'0' && text[i] <= u'9') {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
        ++i;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

CDlgDownSet::CDlgDownSet(DownParam& param, QWidget* parent) : QDialog(parent), param_(param) {
    setWindowTitle(QStringLiteral("设置"));
    setObjectName(QStringLiteral("dlgDownSet"));
    auto* group = new QGroupBox(QStringLiteral("下载参数设置"), this);
    auto* form = new QFormLayout(group);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setHorizontalSpacing(10);
    form->setVerticalSpacing(8);
    threads_ = new QLineEdit(group);
    timeout_ = new QLineEdit(group);
    min_ = new QLineEdit(group);
    max_ = new QLineEdit(group);
    for (QLineEdit* e : {threads_, timeout_, min_, max_}) e->setMinimumWidth(120);
    form->addRow(QStringLiteral("线程数(1~15)："), threads_);
    form->addRow(QStringLiteral("超时(S, >=10)："), timeout_);
    form->addRow(QStringLiteral("图片最小值(K)："), min_);
    form->addRow(QStringLiteral("图片最大值(K)："), max_);

    // Each edit shows its field as a decimal number.
    threads_->setText(QString::number(static_cast<int>(param.ThreadCount)));
    timeout_->setText(QString::number(static_cast<int>(param.TimeoutSec)));
    min_->setText(QString::number(static_cast<int>(param.MinSizeKB)));
    max_->setText(QString::number(static_cast<int>(param.MaxSizeKB)));

    ok_ = new QPushButton(QStringLiteral("确 定"), this);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &CDlgDownSet::OnOk);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);
    setFixedSize(sizeHint().expandedTo(QSize(300, 0)));
}

void CDlgDownSet::OnOk() {
    const auto low16 = [](const QLineEdit* e) {
        return static_cast<uint16_t>(ParseSignedInt(e->text()) & 0xFFFF);
    };
    const uint16_t threads = low16(threads_);
    const uint16_t timeout = low16(timeout_);
    // The message names the value at fault and its range, and that box gets the focus.
    if (threads < 1 || threads > 15) {
        ShowMessageBox(this, QStringLiteral("参数错误：线程数要在 1 到 15 之间（现在是 %1）").arg(threads));
        threads_->setFocus();
        threads_->selectAll();
        return;
    }
    if (timeout < 10) {
        ShowMessageBox(this, QStringLiteral("参数错误：超时至少 10 秒（现在是 %1）").arg(timeout));
        timeout_->setFocus();
        timeout_->selectAll();
        return;
    }
    param_.MinSizeKB = low16(min_);
    param_.MaxSizeKB = low16(max_);
    param_.ThreadCount = threads;
    param_.TimeoutSec = timeout;
    accept();
}

}  // namespace qm::ui

#include "ui/ComboBox2.h"

#include <QAbstractItemView>
#include <QLineEdit>

namespace qm::ui {

CComboBox2::CComboBox2(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(12);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(12);
    setCompleter(nullptr);  // the history filter below replaces Qt's completer
    connect(lineEdit(), &QLineEdit::textEdited, this, &CComboBox2::OnTextEdited);
    connect(this, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        if (index < 0 || filling_) return;
        const QString chosen = itemText(index);
        SetEditText(chosen);
        emit HistoryChosen(chosen);
    });
}

void CComboBox2::AddHistory(const QString& text) {
    history_.append(text);
}

void CComboBox2::AddHistoryFront(const QString& text) {
    history_.prepend(text);
}

void CComboBox2::ClearHistory() {
    history_.clear();
    FillList({});
}

QString CComboBox2::EditText() const {
    return lineEdit()->text();
}

void CComboBox2::SetEditText(const QString& text) {
    filling_ = true;
    lineEdit()->setText(text);
    filling_ = false;
}

// Replaces the drop-down's items while keeping the edit text and the caret.
void CComboBox2::FillList(const QStringList& items) {
    const QString text = lineEdit()->text();
    const int cursor = lineEdit()->cursorPosition();
    const int selStart = lineEdit()->selectionStart();
    const int selLength = lineEdit()->selectionLength();
    filling_ = true;
    blockSignals(true);
    clear();
    addItems(items);
    setCurrentIndex(-1);
    blockSignals(false);
    lineEdit()->setText(text);
    if (selStart >= 0)
        lineEdit()->setSelection(selStart, selLength);
    else
        lineEdit()->setCursorPosition(cursor);
    filling_ = false;
}

void CComboBox2::OnTextEdited(const QString& text) {
    if (filling_) return;
    if (text.isEmpty()) {
        hidePopup();
    } else {
        const QString needle = text.toLower();
        QStringList matches;
        for (const QString& h : history_)
            if (h.toLower().contains(needle)) matches.append(h);
        FillList(matches);
        if (!matches.isEmpty()) {
            filteredPopup_ = true;
            QComboBox::showPopup();
            filteredPopup_ = false;
            // The popup takes the focus; typing goes on in the edit field.
            lineEdit()->setFocus();
        } else {
            hidePopup();
        }
    }
    emit EditChanged(text);
}

void CComboBox2::showPopup() {
    if (!filteredPopup_) FillList(history_);
    QComboBox::showPopup();
}

}  // namespace qm::ui

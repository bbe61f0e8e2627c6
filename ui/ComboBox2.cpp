#include "ui/ComboBox2.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QLineEdit>
#include <QStringListModel>

namespace qm::ui {

CComboBox2::CComboBox2(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(12);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(12);
    // The combo's own completer would select items of the drop-down (and clear the edit text when
    // the typed text is not one of them); the matches come from a completer on the edit field.
    setCompleter(nullptr);
    historyModel_ = new QStringListModel(this);
    matches_ = new QCompleter(historyModel_, this);
    matches_->setCompletionMode(QCompleter::PopupCompletion);
    matches_->setFilterMode(Qt::MatchContains);
    matches_->setCaseSensitivity(Qt::CaseInsensitive);
    matches_->setMaxVisibleItems(12);
    // The completer's popup never takes the focus: keys reach the edit field first, and only
    // Up/Down, Return, Enter, Tab and Escape act on the list.
    lineEdit()->setCompleter(matches_);
    connect(matches_, qOverload<const QString&>(&QCompleter::activated), this, [this](const QString& text) {
        SetEditText(text);
        emit HistoryChosen(text);
    });

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
    historyModel_->setStringList(history_);
}

void CComboBox2::AddHistoryFront(const QString& text) {
    history_.prepend(text);
    historyModel_->setStringList(history_);
}

void CComboBox2::ClearHistory() {
    history_.clear();
    historyModel_->setStringList(history_);
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

bool CComboBox2::ListOpen() const {
    return (view() && view()->isVisible()) || (matches_->popup() && matches_->popup()->isVisible());
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
    // The edit field has already asked the completer: it shows the matching history texts, or
    // closes when the text is empty or nothing matches.
    emit EditChanged(text);
}

void CComboBox2::showPopup() {
    if (matches_->popup()) matches_->popup()->hide();
    FillList(history_);
    QComboBox::showPopup();
}

}  // namespace qm::ui

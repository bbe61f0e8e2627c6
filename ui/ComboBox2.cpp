#include "ui/ComboBox2.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QWindow>
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
    // Installed after the completer's own filter, so it sees the popup's events first.
    matches_->popup()->installEventFilter(this);
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

bool CComboBox2::MatchesOpenUnpicked() const {
    QAbstractItemView* popup = matches_->popup();
    return popup && popup->isVisible() && !popup->currentIndex().isValid();
}

// The completer closes its list on a press outside it and drops the press. Close it here and
// send the press on to the window under it, where it lands as if no list had been open.
bool CComboBox2::eventFilter(QObject* watched, QEvent* e) {
    QAbstractItemView* popup = matches_->popup();
    if (watched == popup && e->type() == QEvent::KeyPress) {
        // The completer hands Return to the edit field alone, so the window never saw it. With
        // no entry picked, close the list and let the key travel up from the edit field.
        auto* ke = static_cast<QKeyEvent*>(e);
        const bool enter = ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter;
        if (enter && !popup->currentIndex().isValid()) {
            popup->hide();
            QKeyEvent copy(ke->type(), ke->key(), ke->modifiers(), ke->text());
            QCoreApplication::sendEvent(lineEdit(), &copy);
            return true;
        }
    }
    if (watched == popup && e->type() == QEvent::MouseButtonPress) {
        auto* me = static_cast<QMouseEvent*>(e);
        const QPoint global = me->globalPosition().toPoint();
        if (!popup->rect().contains(popup->mapFromGlobal(global))) {
            popup->hide();
            QWidget* top = window();
            const QPoint local = top->mapFromGlobal(global);
            if (top->windowHandle() && top->rect().contains(local)) {
                QMouseEvent replay(QEvent::MouseButtonPress, QPointF(local), QPointF(local), me->globalPosition(),
                                   me->button(), me->buttons(), me->modifiers());
                QCoreApplication::sendEvent(top->windowHandle(), &replay);
            }
            return true;
        }
    }
    return QComboBox::eventFilter(watched, e);
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

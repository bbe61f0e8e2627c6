// An editable combo box with its own history texts. Typing shows the history texts that contain
// the typed text (compared without regard to case) in a completion list that leaves the keyboard
// with the edit field: further typing goes on in the box, Up/Down pick an entry, Return takes the
// picked entry (or, when none was picked, closes the list and lets the key act on the window),
// Escape closes the list. A click outside the list closes it and still reaches what it was aimed
// at, so the first click on a button is never spent on closing the list.
// Opening the drop-down by hand shows the whole history. The edit text is never replaced by the
// list's filling.
#pragma once

#include <QComboBox>
#include <QStringList>

class QCompleter;
class QStringListModel;

namespace qm::ui {

class CComboBox2 : public QComboBox {
    Q_OBJECT
public:
    explicit CComboBox2(QWidget* parent = nullptr);

    // Appends a text at the end of the history.
    void AddHistory(const QString& text);
    // Puts a history text at the front (a newly remembered entry is the newest).
    void AddHistoryFront(const QString& text);
    void ClearHistory();
    const QStringList& History() const { return history_; }

    QString EditText() const;
    void SetEditText(const QString& text);

    // The list of matching history texts shown while typing (nullptr before the first use).
    QCompleter* MatchList() const { return matches_; }
    // True while the drop-down or the list of matches is open.
    bool ListOpen() const;
    // True while the list of matches is open and the user has not moved onto an entry: Return
    // then belongs to the window (the typed text is what the user wants), not to the list.
    bool MatchesOpenUnpicked() const;

    void showPopup() override;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

signals:
    // The user changed the edit text by typing (not by a program call).
    void EditChanged(const QString& text);
    // The user picked a history entry; the edit text already holds it.
    void HistoryChosen(const QString& text);

private:
    void OnTextEdited(const QString& text);
    void FillList(const QStringList& items);

    QStringList history_;
    QStringListModel* historyModel_ = nullptr;
    QCompleter* matches_ = nullptr;
    bool filling_ = false;
};

}  // namespace qm::ui

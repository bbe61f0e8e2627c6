// An editable combo box with its own history texts. Typing filters the history (a lower-case
// "contains" match) into the drop-down; opening the drop-down by hand shows the whole history.
// The edit text is never replaced by the list's filling.
#pragma once

#include <QComboBox>
#include <QStringList>

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

    void showPopup() override;

signals:
    // The user changed the edit text by typing (not by a program call).
    void EditChanged(const QString& text);
    // The user picked a history entry; the edit text already holds it.
    void HistoryChosen(const QString& text);

private:
    void OnTextEdited(const QString& text);
    void FillList(const QStringList& items);

    QStringList history_;
    bool filling_ = false;
    bool filteredPopup_ = false;
};

}  // namespace qm::ui

// The search bar "相册搜索" (modeless, dragged by any point) and, in filter mode, the keyword
// dialog of the filter (modal, one button "筛选").
#pragma once

#include <QDialog>
#include <QPoint>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qm::ui {

class CDlgFind : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Search, Filter };
    CDlgFind(Mode mode, QWidget* parent = nullptr);

    // The keyword box's text, trimmed.
    QString Keyword() const;
    bool CaseSensitive() const;
    bool WholeCell() const;

    QLineEdit* KeywordEdit() const { return keyword_; }
    QCheckBox* CaseBox() const { return case_; }
    QCheckBox* WholeBox() const { return whole_; }
    QPushButton* NextButton() const { return next_; }
    QPushButton* PrevButton() const { return prev_; }
    QPushButton* CloseButton() const { return close_; }

signals:
    void FindNext();
    void FindPrevious();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    Mode mode_;
    QLineEdit* keyword_;
    QCheckBox* case_;
    QCheckBox* whole_;
    QPushButton* prev_;
    QPushButton* next_;
    QPushButton* close_;
    QLabel* title_;
    bool dragging_ = false;
    QPoint dragOffset_;
};

}  // namespace qm::ui

// The album table: rows of cells carrying album indexes, in list mode (one row per album with a
// header) or thumbnail mode (cover cells in as many columns as the view's width holds, at least
// one). Only the GUI thread touches it; job threads reach it through the presenter.
#pragma once

#include <map>

#include <QAbstractTableModel>
#include <QImage>
#include <QStyledItemDelegate>
#include <QTableView>
#include <array>
#include <vector>

#include "core/AlbumRecord.h"

namespace qm::ui {

inline constexpr int kGridColumns = 6;
// Covers per row until the view has a width of its own (a view never shown keeps it).
inline constexpr int kDefaultThumbsPerRow = 6;
inline constexpr int kThumbWidth = 113;
inline constexpr int kThumbHeight = 120;
inline constexpr int kThumbRowHeight = kThumbHeight + 10;
inline constexpr int kCellMargin = 4;  // the grid's default cell margin
inline constexpr int kMaxShownName = 80;

struct GridCell {
    QString text;
    int data = -1;   // album index, -1 for none
    int image = -1;  // index in the image list, -1 for none
};

// The cell texts of a list-mode row for one album at table row `row` (0 = first album row).
std::array<QString, kGridColumns> ListRowTexts(int row, const ST_PERLISTRECORD& rec);
// "%d.%s" caption of a thumbnail cell.
QString ThumbCaption(int albumIndex, const Text& name);

class GridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit GridModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    void Reset(bool thumbnails);
    // List mode: appends an album's row; SetCell changes a cell of either mode.
    void AppendRow(const std::array<GridCell, kGridColumns>& cells);
    void SetCell(int row, int col, const GridCell& cell);
    // Thumbnail mode: the cover cell of an album, placed by its index (row-major, perRow wide);
    // the rows it needs are added.
    void SetThumb(int albumIndex, const GridCell& cell);
    // The cell at (row, col); an empty cell (data -1) outside the table.
    const GridCell& Cell(int row, int col) const;
    bool Thumbnails() const { return thumbnails_; }
    // Thumbnail mode's column count; changing it rebuilds the table (views lose their selection).
    int ThumbsPerRow() const { return perRow_; }
    void SetThumbsPerRow(int perRow);

    // The image list: 24-bit colour covers of 113 x 120.
    int AddImage(const QImage& image);
    void ClearImages();
    const QImage* Image(int index) const;
    int ImageCount() const { return static_cast<int>(images_.size()); }

private:
    bool thumbnails_ = false;
    int perRow_ = kDefaultThumbsPerRow;
    std::vector<std::array<GridCell, kGridColumns>> rows_;  // list mode
    std::vector<GridCell> thumbs_;                          // thumbnail mode, by album index
    std::vector<QImage> images_;
};

// Draws a thumbnail cell: the cover, its caption on a band at the bottom, and the selection.
class ThumbDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& opt, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& opt, const QModelIndex& index) const override;
};

class CMyGridCtrl : public QTableView {
    Q_OBJECT
public:
    explicit CMyGridCtrl(QWidget* parent = nullptr);

    GridModel& Model() { return model_; }
    bool ThumbnailMode() const { return model_.Thumbnails(); }

    // Empties the table and rebuilds the columns for a mode (the image list is kept).
    void ResetTable(bool thumbnails);
    // Adds the album's row (list mode) or cell (thumbnail mode, `image` from the image list or -1).
    void AddListRow(int albumIndex, const ST_PERLISTRECORD& rec);
    // Shows `text` in the count column of album `albumIndex` instead of its listed count, now and
    // whenever its row is made again (the mood row after a download: its posts and pictures).
    void SetCountText(int albumIndex, const QString& text);
    // Forgets those texts (a new list).
    void ClearCountTexts() { countTexts_.clear(); }
    void SetThumbCell(int albumIndex, const ST_PERLISTRECORD& rec, int image);

    int RowCount() const { return model_.rowCount(); }
    QString CellText(int row, int col) const { return model_.Cell(row, col).text; }
    int CellData(int row, int col) const { return model_.Cell(row, col).data; }

    // Album indexes of the selection: selected rows top to bottom (list mode), or selected cells
    // row by row, left to right, limited to `recordCount` (thumbnail mode).
    std::vector<int> SelectedAlbums(int recordCount) const;
    void SelectAllAlbums();
    // Selects the rows (list mode) or cells (thumbnail mode) of these albums, replacing the
    // selection; albums without a row or cell are left out.
    void SelectAlbums(const std::vector<int>& albums);
    void ClearAlbumSelection();

    // The row of the focus cell, -1 when there is none.
    int FocusRow() const;
    // Searches the rows after (forward) or before `startRow` for a cell that equals (wholeCell)
    // or contains the keyword; selects the first matching row and scrolls it into view.
    bool FindInTable(int startRow, const QString& keyword, bool forward, bool ignoreCase, bool wholeCell);

    // Cell texts of every album row, for the CSV export.
    std::vector<std::vector<QString>> ExportRows() const;

    // The thumbnail columns a view `width` pixels wide holds: at least one.
    static int ThumbsPerRowFor(int width);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Thumbnail mode: fits the column count to the viewport, keeping the chosen albums and the
    // focus album.
    void FitThumbColumns();
    void SetThumbColumnWidths();

    GridModel model_;
    std::map<int, QString> countTexts_;
    ThumbDelegate thumbDelegate_;
    QStyledItemDelegate listDelegate_;
};

}  // namespace qm::ui

#include "ui/MyGridCtrl.h"

#include <algorithm>

#include <QHeaderView>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>

namespace qm::ui {

std::array<QString, kGridColumns> ListRowTexts(int row, const ST_PERLISTRECORD& rec) {
    std::array<QString, kGridColumns> t;
    t[0] = QString::asprintf("%04d", row + 1);
    t[1] = QString::fromStdU16String(rec.Name);
    t[2] = rec.PictureCount == -1 ? QStringLiteral("未知")
                                  : QString::asprintf("%4u", static_cast<unsigned>(rec.PictureCount));
    const uint32_t p = rec.PrivacyFlags;
    if (p & PrivacyNumber)
        t[3] = QString::asprintf("%08u", p & 0x7FFFFFFFu);
    else if (p & PrivacyEncrypted)
        t[3] = QStringLiteral("加密相册");
    else if (p & PrivacyPrivate)
        t[3] = QStringLiteral("私密相册");
    else if (p & PrivacyFriends)
        t[3] = QStringLiteral("好友可见");
    return t;
}

QString ThumbCaption(int albumIndex, const Text& name) {
    return QString::number(albumIndex + 1) + QLatin1Char('.') + QString::fromStdU16String(name);
}

// --- model -------------------------------------------------------------------------------------

GridModel::GridModel(QObject* parent) : QAbstractTableModel(parent) {}

int GridModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    if (thumbnails_) return static_cast<int>((thumbs_.size() + static_cast<std::size_t>(perRow_) - 1) /
                                             static_cast<std::size_t>(perRow_));
    return static_cast<int>(rows_.size());
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : (thumbnails_ ? perRow_ : kGridColumns);
}

const GridCell& GridModel::Cell(int row, int col) const {
    static const GridCell kNone;
    if (row < 0 || col < 0 || col >= columnCount()) return kNone;
    if (thumbnails_) {
        const std::size_t i = static_cast<std::size_t>(row) * static_cast<std::size_t>(perRow_) +
                              static_cast<std::size_t>(col);
        return i < thumbs_.size() ? thumbs_[i] : kNone;
    }
    return static_cast<std::size_t>(row) < rows_.size()
               ? rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)]
               : kNone;
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const GridCell& c = Cell(index.row(), index.column());
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return c.text.isEmpty() ? QVariant() : QVariant(c.text);
        case Qt::UserRole:
            return c.data;
        case Qt::DecorationRole:
            if (const QImage* img = Image(c.image)) return *img;
            return {};
        case Qt::TextAlignmentRole:
            if (!thumbnails_ && index.column() != 1) return int(Qt::AlignCenter);
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        default:
            return {};
    }
}

QVariant GridModel::headerData(int section, Qt::Orientation o, int role) const {
    if (role != Qt::DisplayRole || o != Qt::Horizontal || thumbnails_) return {};
    static const char16_t* const kTitles[kGridColumns] = {u"序号", u"名称", u"数量", u"备注", u"", u""};
    if (section < 0 || section >= kGridColumns) return {};
    return QString::fromUtf16(kTitles[section]);
}

void GridModel::Reset(bool thumbnails) {
    beginResetModel();
    thumbnails_ = thumbnails;
    rows_.clear();
    rows_.shrink_to_fit();
    thumbs_.clear();
    thumbs_.shrink_to_fit();
    endResetModel();
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

void GridModel::SetThumbsPerRow(int perRow) {
    perRow = std::max(1, perRow);
    if (perRow == perRow_) return;
    beginResetModel();
    perRow_ = perRow;
    endResetModel();
}

void GridModel::AppendRow(const std::array<GridCell, kGridColumns>& cells) {
    if (thumbnails_) return;
    const int r = rowCount();
    beginInsertRows({}, r, r);
    rows_.push_back(cells);
    endInsertRows();
}

void GridModel::SetCell(int row, int col, const GridCell& cell) {
    if (row < 0 || row >= rowCount() || col < 0 || col >= columnCount()) return;
    if (thumbnails_) {
        SetThumb(row * perRow_ + col, cell);
        return;
    }
    rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] = cell;
    const QModelIndex i = index(row, col);
    emit dataChanged(i, i);
}

void GridModel::SetThumb(int albumIndex, const GridCell& cell) {
    if (!thumbnails_ || albumIndex < 0) return;
    const std::size_t at = static_cast<std::size_t>(albumIndex);
    const int rowsBefore = rowCount();
    const int row = albumIndex / perRow_;
    if (row >= rowsBefore) {
        beginInsertRows({}, rowsBefore, row);
        thumbs_.resize(at + 1);
        thumbs_[at] = cell;
        endInsertRows();
        return;
    }
    if (at >= thumbs_.size()) thumbs_.resize(at + 1);
    thumbs_[at] = cell;
    const QModelIndex i = index(row, albumIndex % perRow_);
    emit dataChanged(i, i);
}

int GridModel::AddImage(const QImage& image) {
    images_.push_back(image);
    return static_cast<int>(images_.size()) - 1;
}

void GridModel::ClearImages() {
    images_.clear();
    images_.shrink_to_fit();
}

const QImage* GridModel::Image(int index) const {
    if (index < 0 || index >= ImageCount()) return nullptr;
    return &images_[static_cast<std::size_t>(index)];
}

// --- thumbnail drawing -------------------------------------------------------------------------

void ThumbDelegate::paint(QPainter* p, const QStyleOptionViewItem& opt, const QModelIndex& index) const {
    p->save();
    const QRect r = opt.rect;
    p->fillRect(r, opt.palette.base());
    const QVariant img = index.data(Qt::DecorationRole);
    const QRect pic(r.x() + (r.width() - kThumbWidth) / 2, r.y() + (r.height() - kThumbHeight) / 2,
                    kThumbWidth, kThumbHeight);
    if (img.canConvert<QImage>()) {
        p->drawImage(pic.topLeft(), img.value<QImage>());
    } else if (index.data(Qt::UserRole).toInt() >= 0) {
        p->fillRect(pic, QColor(0xEE, 0xEE, 0xEE));
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    if (!text.isEmpty()) {
        const int band = opt.fontMetrics.height() + 4;
        const QRect caption(pic.x(), pic.bottom() + 1 - band, pic.width(), band);
        p->fillRect(caption, QColor(0, 0, 0, 150));
        p->setPen(Qt::white);
        p->drawText(caption.adjusted(3, 0, -3, 0), Qt::AlignLeft | Qt::AlignVCenter,
                    opt.fontMetrics.elidedText(text, Qt::ElideRight, caption.width() - 6));
    }
    if (opt.state & QStyle::State_Selected) {
        // A chosen cover must stand out at a glance: a tint, a thick frame and a tick badge.
        const QColor mark = opt.palette.highlight().color();
        QColor tint = mark;
        tint.setAlpha(90);
        p->fillRect(pic, tint);
        p->setPen(QPen(mark, 4));
        p->setBrush(Qt::NoBrush);
        p->drawRect(pic.adjusted(2, 2, -2, -2));
        const QRect badge(pic.right() - 25, pic.top() + 5, 20, 20);
        p->setRenderHint(QPainter::Antialiasing);
        p->setPen(Qt::NoPen);
        p->setBrush(mark);
        p->drawEllipse(badge);
        p->setPen(QPen(Qt::white, 2.5));
        p->drawPolyline(QPolygonF({QPointF(badge.left() + 5, badge.center().y() + 1),
                                   QPointF(badge.left() + 9, badge.bottom() - 5),
                                   QPointF(badge.right() - 4, badge.top() + 6)}));
    }
    p->restore();
}

QSize ThumbDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return {kThumbWidth + 2 * kCellMargin, kThumbRowHeight};
}

// --- the grid ----------------------------------------------------------------------------------

CMyGridCtrl::CMyGridCtrl(QWidget* parent) : QTableView(parent), thumbDelegate_(this), listDelegate_(this) {
    setModel(&model_);
    setObjectName(QStringLiteral("albumTable"));
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setHighlightSections(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setAlternatingRowColors(true);
    ResetTable(false);
}

void CMyGridCtrl::ResetTable(bool thumbnails) {
    model_.Reset(thumbnails);
    if (thumbnails) {
        setItemDelegate(&thumbDelegate_);
        horizontalHeader()->hide();
        setShowGrid(true);
        setAlternatingRowColors(false);
        setSelectionBehavior(QAbstractItemView::SelectItems);
        verticalHeader()->setDefaultSectionSize(kThumbRowHeight);
        // Before the widths: a column still stretching would ignore them.
        horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
        horizontalHeader()->setStretchLastSection(false);
        SetThumbColumnWidths();
        FitThumbColumns();
    } else {
        setItemDelegate(&listDelegate_);
        horizontalHeader()->show();
        setShowGrid(true);
        setAlternatingRowColors(true);
        setSelectionBehavior(QAbstractItemView::SelectRows);
        verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
        static const int kWidths[kGridColumns] = {50, 575, 50, 100, 0, 0};
        horizontalHeader()->setStretchLastSection(false);
        horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
        for (int c = 0; c < kGridColumns; ++c) {
            setColumnHidden(c, kWidths[c] == 0);
            setColumnWidth(c, kWidths[c]);
        }
        // The narrow columns keep their widths (the user may still drag them); the name column
        // takes whatever the view has left, so the count and remark columns stay in sight from
        // the window's minimum size up and a wide window leaves no empty band on the right.
        horizontalHeader()->setMinimumSectionSize(30);
        horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    }
}

void CMyGridCtrl::AddListRow(int albumIndex, const ST_PERLISTRECORD& rec) {
    auto texts = ListRowTexts(RowCount(), rec);
    if (const auto it = countTexts_.find(albumIndex); it != countTexts_.end()) texts[2] = it->second;
    std::array<GridCell, kGridColumns> cells;
    for (int c = 0; c < kGridColumns; ++c) cells[c] = GridCell{texts[c], albumIndex, -1};
    model_.AppendRow(cells);
}

void CMyGridCtrl::SetCountText(int albumIndex, const QString& text) {
    countTexts_[albumIndex] = text;
    if (ThumbnailMode()) return;
    for (int r = 0; r < RowCount(); ++r) {
        GridCell cell = model_.Cell(r, 2);
        if (cell.data != albumIndex) continue;
        cell.text = text;
        model_.SetCell(r, 2, cell);
    }
}

void CMyGridCtrl::SetThumbCell(int albumIndex, const ST_PERLISTRECORD& rec, int image) {
    if (albumIndex < 0) return;
    model_.SetThumb(albumIndex, GridCell{ThumbCaption(albumIndex, rec.Name), albumIndex, image});
}

int CMyGridCtrl::ThumbsPerRowFor(int width) {
    return std::max(1, width / (kThumbWidth + 2 * kCellMargin));
}

void CMyGridCtrl::SetThumbColumnWidths() {
    for (int c = 0; c < model_.columnCount(); ++c) {
        setColumnHidden(c, false);
        setColumnWidth(c, kThumbWidth + 2 * kCellMargin);
    }
}

void CMyGridCtrl::FitThumbColumns() {
    // A view that was never shown has no width of its own yet; it keeps the current count.
    if (!ThumbnailMode() || !isVisible()) return;
    const int perRow = ThumbsPerRowFor(viewport()->width());
    if (perRow == model_.ThumbsPerRow()) return;
    const int cells = model_.rowCount() * model_.ThumbsPerRow();
    const std::vector<int> chosen = SelectedAlbums(cells);
    const QModelIndex current = currentIndex();
    const int focusAlbum = current.isValid() ? CellData(current.row(), current.column()) : -1;
    model_.SetThumbsPerRow(perRow);
    SetThumbColumnWidths();
    SelectAlbums(chosen);
    if (focusAlbum >= 0) {
        const QModelIndex at = model_.index(focusAlbum / perRow, focusAlbum % perRow);
        selectionModel()->setCurrentIndex(at, QItemSelectionModel::NoUpdate);
        scrollTo(at);
    }
}

void CMyGridCtrl::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    FitThumbColumns();
}

// A view's first size arrives before it counts as visible: fit the columns once it is.
void CMyGridCtrl::showEvent(QShowEvent* event) {
    QTableView::showEvent(event);
    FitThumbColumns();
}

std::vector<int> CMyGridCtrl::SelectedAlbums(int recordCount) const {
    std::vector<int> out;
    const QItemSelectionModel* sel = selectionModel();
    if (!sel) return out;
    if (!ThumbnailMode()) {
        for (int r = 0; r < RowCount(); ++r) {
            for (int c = 0; c < kGridColumns; ++c) {
                if (sel->isSelected(model_.index(r, c))) {
                    out.push_back(CellData(r, 0));
                    break;
                }
            }
        }
        return out;
    }
    int position = 0;
    for (int r = 0; r < RowCount(); ++r) {
        for (int c = 0; c < model_.columnCount(); ++c, ++position) {
            if (!sel->isSelected(model_.index(r, c))) continue;
            const int data = CellData(r, c);
            if (position < recordCount && data >= 0 && data < recordCount) out.push_back(data);
        }
    }
    return out;
}

void CMyGridCtrl::SelectAllAlbums() {
    selectAll();
}

void CMyGridCtrl::SelectAlbums(const std::vector<int>& albums) {
    QItemSelectionModel* sel = selectionModel();
    if (!sel) return;
    QItemSelection chosen;
    for (int r = 0; r < RowCount(); ++r) {
        for (int c = 0; c < model_.columnCount(); ++c) {
            const int album = CellData(r, c);
            if (album < 0 || std::find(albums.begin(), albums.end(), album) == albums.end()) continue;
            if (ThumbnailMode()) {
                chosen.select(model_.index(r, c), model_.index(r, c));
            } else {
                chosen.select(model_.index(r, 0), model_.index(r, kGridColumns - 1));
                break;
            }
        }
    }
    sel->select(chosen, QItemSelectionModel::ClearAndSelect);
}

void CMyGridCtrl::ClearAlbumSelection() {
    clearSelection();
}

int CMyGridCtrl::FocusRow() const {
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.row() : -1;
}

bool CMyGridCtrl::FindInTable(int startRow, const QString& keyword, bool forward, bool ignoreCase,
                              bool wholeCell) {
    if (keyword.isEmpty()) return false;
    const QString key = ignoreCase ? keyword.toLower() : keyword;
    const int rows = RowCount();
    const int step = forward ? 1 : -1;
    for (int r = startRow + step; r >= 0 && r < rows; r += step) {
        for (int c = 0; c < model_.columnCount(); ++c) {
            const QString cell = ignoreCase ? CellText(r, c).toLower() : CellText(r, c);
            const bool match = wholeCell ? cell == key : cell.contains(key);
            if (!match) continue;
            const QModelIndex idx = model_.index(r, 0);
            selectionModel()->setCurrentIndex(
                idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            scrollTo(idx);
            return true;
        }
    }
    return false;
}

std::vector<std::vector<QString>> CMyGridCtrl::ExportRows() const {
    std::vector<std::vector<QString>> out;
    out.reserve(static_cast<std::size_t>(RowCount()));
    for (int r = 0; r < RowCount(); ++r) {
        std::vector<QString> row;
        for (int c = 0; c < model_.columnCount(); ++c) row.push_back(CellText(r, c));
        out.push_back(std::move(row));
    }
    return out;
}

}  // namespace qm::ui

#include "ui/DownloadResultDialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/OutcomeTexts.h"

namespace qm::ui {

namespace {

// The 视频 column comes last, so the reason keeps its place beside the picture counts.
enum Column { kName, kListed, kSaved, kHad, kFailed, kReason, kVideos, kColumns };

QTableWidgetItem* Cell(const QString& text, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(align);
    item->setToolTip(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

QTableWidgetItem* Count(std::size_t n) {
    return Cell(QString::number(n), Qt::AlignRight | Qt::AlignVCenter);
}

}  // namespace

DownloadResultDialog::DownloadResultDialog(JobOutcome outcome, QWidget* parent)
    : QDialog(parent), outcome_(std::move(outcome)) {
    setObjectName(QStringLiteral("downloadResult"));
    setWindowTitle(QStringLiteral("下载结果"));

    int incomplete = 0;
    bool anyFailed = false;
    FilmCounts films;
    for (const AlbumOutcome& a : outcome_.albums) {
        if (!a.Complete()) ++incomplete;
        if (a.failed > 0 || a.films.failed > 0) anyFailed = true;
        films.listed += a.films.listed;
        films.saved += a.films.saved + a.films.alreadyHad;
    }
    summary_ = new QLabel(this);
    summary_->setTextFormat(Qt::PlainText);
    summary_->setText(QStringLiteral("%1 个相册，%2 个完整，%3 个未完成")
                          .arg(outcome_.albums.size())
                          .arg(static_cast<int>(outcome_.albums.size()) - incomplete)
                          .arg(incomplete) +
                      (films.listed > 0 ? QStringLiteral("；视频 %1 个，%2 个已保存").arg(films.listed).arg(films.saved)
                                        : QString()));

    table_ = new QTableWidget(static_cast<int>(outcome_.albums.size()), kColumns, this);
    table_->setHorizontalHeaderLabels({QStringLiteral("相册"), QStringLiteral("列出"), QStringLiteral("已保存"),
                                       QStringLiteral("已有"), QStringLiteral("失败"), QStringLiteral("原因"),
                                       QStringLiteral("视频")});
    table_->verticalHeader()->hide();
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideRight);
    int firstIncomplete = -1;
    for (int r = 0; r < table_->rowCount(); ++r) {
        const AlbumOutcome& a = outcome_.albums[static_cast<std::size_t>(r)];
        table_->setItem(r, kName, Cell(QString::fromStdU16String(a.name)));
        table_->setItem(r, kListed, Count(a.listed));
        table_->setItem(r, kSaved, Count(a.saved));
        table_->setItem(r, kHad, Count(a.alreadyHad));
        table_->setItem(r, kFailed, Count(a.failed));
        // The films of the video items: saved (now or before) of listed; the columns before count
        // pictures, the videos' covers among them.
        table_->setItem(r, kVideos,
                        Cell(a.films.listed > 0 ? QStringLiteral("%1/%2")
                                                      .arg(a.films.saved + a.films.alreadyHad)
                                                      .arg(a.films.listed)
                                                : QString(),
                             Qt::AlignRight | Qt::AlignVCenter));
        QString reason = AlbumOutcomeText(a);
        if (const QString posts = PostsText(a.posts); !posts.isEmpty())
            reason = reason.isEmpty() ? posts : reason + QStringLiteral("；") + posts;
        table_->setItem(r, kReason, Cell(reason));
        if (firstIncomplete < 0 && !a.Complete()) firstIncomplete = r;
    }
    QHeaderView* h = table_->horizontalHeader();
    h->setSectionResizeMode(kName, QHeaderView::Interactive);
    for (int c : {kListed, kSaved, kHad, kFailed, kVideos}) h->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    if (films.listed == 0) table_->setColumnHidden(kVideos, true);
    h->setSectionResizeMode(kReason, QHeaderView::Stretch);
    table_->setColumnWidth(kName, 170);
    if (firstIncomplete >= 0) table_->selectRow(firstIncomplete);

    openFolder_ = new QPushButton(QStringLiteral("打开文件夹"), this);
    retry_ = new QPushButton(QStringLiteral("重试失败的图片"), this);
    retry_->setEnabled(anyFailed);
    gallery_ = new QPushButton(QStringLiteral("打开浏览页"), this);
    gallery_->hide();
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setDefault(true);

    connect(openFolder_, &QPushButton::clicked, this, [this] {
        const QString folder = ChosenFolder();
        if (!folder.isEmpty()) emit OpenFolderRequested(folder);
    });
    connect(retry_, &QPushButton::clicked, this, [this] {
        emit RetryFailedRequested();
        accept();
    });
    connect(gallery_, &QPushButton::clicked, this, [this] { emit OpenGalleryRequested(galleryPath_); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(openFolder_);
    buttons->addWidget(retry_);
    buttons->addWidget(gallery_);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(summary_);
    layout->addWidget(table_, 1);
    layout->addLayout(buttons);
    // Tall enough for every row of an ordinary download (up to 15) without scrolling.
    const int rows = std::min(table_->rowCount(), 15);
    const int tableHeight = h->sizeHint().height() + rows * table_->verticalHeader()->defaultSectionSize() +
                            2 * table_->frameWidth() + 4;
    table_->setMinimumHeight(tableHeight);
    resize(640, sizeHint().height());
}

void DownloadResultDialog::SetGalleryPath(const QString& path) {
    galleryPath_ = path;
    gallery_->setVisible(!path.isEmpty());
}

QString DownloadResultDialog::ChosenFolder() const {
    const int row = table_->currentRow();
    if (row >= 0 && row < static_cast<int>(outcome_.albums.size())) {
        const Text& folder = outcome_.albums[static_cast<std::size_t>(row)].folder;
        if (!folder.empty()) return QString::fromStdU16String(folder);
    }
    if (!targetFolder_.isEmpty()) return targetFolder_;
    return QString::fromStdU16String(outcome_.lastFolder);
}

}  // namespace qm::ui

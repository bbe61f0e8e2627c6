#include "ui/DownloadProgressBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <algorithm>

namespace qm::ui {

DownloadProgressBar::DownloadProgressBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("downloadProgress"));
    albums_ = new QLabel(this);
    albums_->setTextFormat(Qt::PlainText);
    pictures_ = new QProgressBar(this);
    pictures_->setTextVisible(true);
    pictures_->setAlignment(Qt::AlignCenter);
    pictures_->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000/00000 张")) + 24);
    pictures_->setMaximumHeight(fontMetrics().height() + 6);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(albums_);
    layout->addWidget(pictures_);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    hide();
}

void DownloadProgressBar::Start(int chosen) {
    SetAlbums(0, chosen);
    SetPictures(0, 0);
    show();
}

void DownloadProgressBar::SetAlbums(int done, int chosen) {
    albumsChosen_ = std::max(chosen, 0);
    albumsDone_ = std::clamp(done, 0, albumsChosen_);
    albums_->setText(QStringLiteral("相册 %1/%2").arg(albumsDone_).arg(albumsChosen_));
}

void DownloadProgressBar::SetPictures(int done, int total) {
    if (total <= 0) {
        pictures_->setRange(0, 0);  // busy: the album's pictures are still being listed
        pictures_->setFormat(QString());
        return;
    }
    pictures_->setRange(0, total);
    pictures_->setValue(std::clamp(done, 0, total));
    pictures_->setFormat(QStringLiteral("%v/%m 张"));
}

void DownloadProgressBar::Finish() {
    hide();
}

}  // namespace qm::ui

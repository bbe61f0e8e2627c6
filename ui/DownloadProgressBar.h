// The download's progress beside the progress line: the album in progress of those chosen (as the
// status line's "第N/M个图集" counts), and a bar of the pictures done of the current album's total. Hidden while no download runs.
#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

namespace qm::ui {

class DownloadProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit DownloadProgressBar(QWidget* parent = nullptr);

    // A download of `chosen` albums begins: shows the bar at 0 of `chosen`, no pictures yet.
    void Start(int chosen);
    // The album in progress (1-based; 0 before the first) of those chosen.
    void SetAlbums(int position, int chosen);
    // Pictures finished (saved, already had or failed) of the current album's listed total;
    // a total of 0 (the album is still being listed) shows a busy bar.
    void SetPictures(int done, int total);
    // The download ended: hides the bar.
    void Finish();

    int AlbumsDone() const { return albumsDone_; }
    int AlbumsChosen() const { return albumsChosen_; }
    QProgressBar* PictureBar() const { return pictures_; }
    QLabel* AlbumLabel() const { return albums_; }

private:
    QLabel* albums_ = nullptr;
    QProgressBar* pictures_ = nullptr;
    int albumsDone_ = 0;
    int albumsChosen_ = 0;
};

}  // namespace qm::ui

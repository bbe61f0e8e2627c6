// The result box shown after a download in which a picture failed or an album could not be
// downloaded: one row per album with its listed, saved, already-had and failed counts and the reason,
// and buttons to open an album's folder, to retry the failed pictures and (when an offline
// gallery was written) to open the gallery page.
#pragma once

#include <QDialog>

#include "core/Outcome.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace qm::ui {

class DownloadResultDialog : public QDialog {
    Q_OBJECT
public:
    explicit DownloadResultDialog(JobOutcome outcome, QWidget* parent = nullptr);

    // Shows "打开浏览页" for the gallery page at `path` (hidden while empty).
    void SetGalleryPath(const QString& path);

    const JobOutcome& Outcome() const { return outcome_; }
    // The folder of the download's target, which "打开文件夹" opens when no album is selected.
    void SetTargetFolder(const QString& folder) { targetFolder_ = folder; }
    // The folder "打开文件夹" opens: the selected album's, else the target's (else the job's last
    // album folder).
    QString ChosenFolder() const;

    QLabel* Summary() const { return summary_; }
    QTableWidget* Table() const { return table_; }
    QPushButton* OpenFolderButton() const { return openFolder_; }
    QPushButton* RetryButton() const { return retry_; }
    QPushButton* GalleryButton() const { return gallery_; }

signals:
    void OpenFolderRequested(const QString& folder);
    // The user asked to fetch the failed pictures again (the receiver has Outcome()).
    void RetryFailedRequested();
    void OpenGalleryRequested(const QString& path);

private:
    JobOutcome outcome_;
    QString galleryPath_;
    QString targetFolder_;
    QLabel* summary_ = nullptr;
    QTableWidget* table_ = nullptr;
    QPushButton* openFolder_ = nullptr;
    QPushButton* retry_ = nullptr;
    QPushButton* gallery_ = nullptr;
};

}  // namespace qm::ui

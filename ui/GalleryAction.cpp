#include "ui/GalleryAction.h"

#include <QAction>
#include <QPointer>
#include <QThread>
#include <QUrl>
#include <QWidget>
#include <memory>

#include "gallery/Gallery.h"
#include "ui/MessageBox.h"

namespace qm::ui {

void MakeGalleryInBackground(QWidget* parent, QAction* action, const QString& saveFolder,
                             std::function<void(const QUrl&)> open) {
    const Text save = saveFolder.trimmed().toStdU16String();
    if (save.empty()) {
        ShowMessageBox(parent, QStringLiteral("请先设置保存路径"));
        return;
    }
    auto report = std::make_shared<gallery::GalleryReport>();
    QThread* worker = QThread::create([report, save] { *report = gallery::BuildGallery(save, Text()); });
    QPointer<QAction> guard(action);
    if (action) action->setEnabled(false);
    QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    QObject::connect(worker, &QThread::finished, parent, [parent, guard, report, saveFolder, open] {
        if (guard) guard->setEnabled(true);
        if (report->targets.empty()) {
            ShowMessageBox(parent,
                           QStringLiteral("保存路径里没有找到本软件下载的相册：\n%1").arg(saveFolder));
            return;
        }
        std::size_t albums = 0, pictures = 0;
        for (const auto& t : report->targets) {
            albums += t.albums;
            pictures += t.pictures;
        }
        QString text = QStringLiteral("离线相册浏览页已生成：%1 个相册，%2 张图片。\n%3")
                           .arg(albums)
                           .arg(pictures)
                           .arg(QString::fromStdString(report->targets.front().index.string()));
        if (!report->errors.empty())
            text += QStringLiteral("\n\n有 %1 个文件无法写入，例如：\n%2")
                        .arg(report->errors.size())
                        .arg(QString::fromStdString(report->errors.front()));
        if (AskYesNoBox(parent, text + QStringLiteral("\n\n现在打开浏览页吗？")) && open)
            open(QUrl::fromLocalFile(QString::fromStdString(report->targets.front().index.string())));
    });
    worker->start();
}

}  // namespace qm::ui

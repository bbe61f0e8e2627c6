// The window's "生成离线相册浏览页": the offline gallery of every target in the save folder, made on
// a worker thread so the window stays responsive; at the end the user is told what was written
// and may open the album list page.
#pragma once

#include <QString>
#include <functional>

class QAction;
class QUrl;
class QWidget;

namespace qm::ui {

// `action` (may be null) is disabled while the gallery is being made. `open` shows a page.
void MakeGalleryInBackground(QWidget* parent, QAction* action, const QString& saveFolder,
                             std::function<void(const QUrl&)> open);

}  // namespace qm::ui

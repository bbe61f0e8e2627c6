// Renders the window's main views into PNG files: the list after fetching a target, an open menu,
// both settings dialogs, the search bar and the thumbnail view. Used by `make screenshots`.
#pragma once

#include <QString>

namespace qm::ui {

class CQuillmossDlg;

// Drives `window` (already constructed) through the views and writes <dir>/*.png; quits the
// application when done. Questions are answered No and messages only printed while it runs.
void StartScreenshotTour(CQuillmossDlg& window, const QString& dir, const QString& target);

}  // namespace qm::ui

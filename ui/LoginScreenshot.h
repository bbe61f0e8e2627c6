// Renders the login window showing the QQ login page into <dir>/login-window.png (for
// `make screenshots`), then calls `done`.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace qm::ui {

void SaveLoginWindowShot(QWidget* owner, const QString& dir, std::function<void()> done);

}  // namespace qm::ui

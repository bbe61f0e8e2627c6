// Opens the login window on an address. Modal: returns when the user closes it. Modeless: the
// window stays open beside the main window; at most one modeless login window exists.
#pragma once

#include <QString>

class QWidget;

namespace qm::ui {

void OpenLoginWindow(QWidget* parent, const QString& url, bool modal);

}  // namespace qm::ui

using qm::ui::OpenLoginWindow;

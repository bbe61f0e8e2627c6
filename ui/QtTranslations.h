// Qt's own texts (the buttons and labels of file dialogs and message boxes) in Chinese, to match
// the program's texts.
#pragma once

class QCoreApplication;

namespace qm::ui {

// Installs Qt's qtbase_zh_CN translation from Qt's translations folder; false when it is missing
// (Qt's dialogs then stay in English). The program's own texts are not translated.
bool InstallQtTranslations(QCoreApplication& app);

}  // namespace qm::ui

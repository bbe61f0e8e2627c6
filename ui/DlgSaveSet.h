// The file-name dialog: prefixes, suffixes and the replacement of picture names, the base of the
// picture name and of the album folder name. Each text keeps at most 38 characters.
#pragma once

#include <QDialog>

#include "core/SettingsBlock.h"

class QLineEdit;
class QPushButton;
class QRadioButton;
class QLabel;

namespace qm::ui {

inline constexpr int kNameFieldChars = 38;

// The help text of the "前后缀说明" link, the escape list included.
QString NamingHelpText();

class CDlgSaveSet : public QDialog {
    Q_OBJECT
public:
    CDlgSaveSet(SiteProfile& profile, QWidget* parent = nullptr);

    // Edits in the order NamePrefix, NameSuffix, ReplaceFrom, ReplaceTo, FolderPrefix, FolderSuffix.
    QLineEdit* Edit(int i) const { return edits_[i]; }
    QRadioButton* NameModeButton(int mode) const { return nameMode_[mode]; }
    QRadioButton* FolderModeButton(int mode) const { return folderMode_[mode]; }
    QPushButton* OkButton() const { return ok_; }
    QLabel* HelpLink() const { return help_; }

private:
    void OnOk();

    SiteProfile& profile_;
    QLineEdit* edits_[6];
    QRadioButton* nameMode_[3];
    QRadioButton* folderMode_[2];
    QPushButton* ok_;
    QLabel* help_;
};

}  // namespace qm::ui

// The rules of the window's start-up and drop handling that involve paths and the clipboard,
// kept apart from the widgets so they can be checked directly.
#pragma once

#include <QString>

namespace qm::ui {

// The product's folder name under the user's Documents folder.
inline constexpr char16_t kProductFolderName[] = u"Quillmoss";

// A folder text with a trailing separator.
QString WithSeparator(const QString& folder);
// True when the program folder lies in a temporary location (a "temp" folder or a "locals…"
// folder anywhere in the path, compared in lower case).
bool IsTemporaryLocation(const QString& programFolder);
// The default save folder: the program folder, or Documents + the product folder (with a
// trailing separator) when the program folder is temporary. The caller creates the folder.
QString DefaultSaveFolder(const QString& programFolder, const QString& documentsFolder);
// The save folder for a dropped path: the first 512 characters; a name with a dot after the last
// separator is cut at that separator (a file gives its folder); a trailing separator is added.
// Empty when nothing is left.
QString DroppedSaveFolder(const QString& dropped);
// The clipboard text for the target box: the trimmed text when it has 1 to 199 characters,
// otherwise empty.
QString ClipboardTarget(const QString& clipboard);

}  // namespace qm::ui

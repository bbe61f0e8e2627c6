#include "ui/SaveFolderRules.h"

#include <QDir>

#include "net/StringCtrl.h"

namespace qm::ui {

namespace {
bool IsSeparator(QChar c) {
    return c == QLatin1Char('/') || c == QDir::separator();
}

int LastSeparator(const QString& s) {
    for (int i = static_cast<int>(s.size()) - 1; i >= 0; --i)
        if (IsSeparator(s[i])) return i;
    return -1;
}
}  // namespace

QString WithSeparator(const QString& folder) {
    if (folder.isEmpty() || IsSeparator(folder.back())) return folder;
    return folder + QDir::separator();
}

bool IsTemporaryLocation(const QString& programFolder) {
    QString lower = WithSeparator(programFolder).toLower();
    lower.replace(QDir::separator(), QLatin1Char('/'));
    return lower.contains(QLatin1String("/temp/")) || lower.contains(QLatin1String("/locals"));
}

QString DefaultSaveFolder(const QString& programFolder, const QString& documentsFolder) {
    if (!IsTemporaryLocation(programFolder) || documentsFolder.isEmpty()) return programFolder;
    return WithSeparator(WithSeparator(documentsFolder) + QString::fromUtf16(kProductFolderName));
}

QString DroppedSaveFolder(const QString& dropped) {
    QString path = dropped.left(512);
    const int dot = static_cast<int>(path.lastIndexOf(QLatin1Char('.')));
    const int sep = LastSeparator(path);
    if (dot > sep) path = path.left(sep < 0 ? 0 : sep);
    return WithSeparator(path);
}

QString ClipboardTarget(const QString& clipboard) {
    const QString trimmed = QString::fromStdU16String(Trim(clipboard.toStdU16String()));
    if (trimmed.isEmpty() || trimmed.size() >= 200) return {};
    return trimmed;
}

}  // namespace qm::ui

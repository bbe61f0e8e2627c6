#include "ui/CsvExport.h"

#include <QFileDialog>
#include <QFileInfo>

#include "net/FileUtil.h"
#include "ui/MessageBox.h"
#include "ui/MyGridCtrl.h"

namespace qm::ui {

std::string BuildCsv(const std::vector<std::vector<QString>>& rows) {
    std::string out;
    for (const auto& row : rows) {
        QString line;
        for (QString cell : row) {
            cell.remove(QLatin1Char('\''));
            cell.replace(QLatin1String("\""), QLatin1String("\"\""));
            cell.replace(QLatin1String(","), QLatin1String("','"));
            line += cell;
            line += QLatin1Char(',');
        }
        out += TextToGbk(line.toStdU16String());
        out += "\r\n";
    }
    return out;
}

bool WriteCsv(const QString& path, const std::vector<std::vector<QString>>& rows) {
    return WriteFileAtomic(PathFromText(path.toStdU16String()), BuildCsv(rows));
}

QString WithCsvSuffix(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).suffix().isEmpty()) return path;
    return path + QStringLiteral(".csv");
}

void ExportCsv(QWidget* parent, const CMyGridCtrl& grid) {
    ShowMessageBox(parent, QStringLiteral("此导出为导出表格内容，如需下载图片，请点击右上角的 下载 按钮。"));
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QStringLiteral("导出后，自行调整列宽(*.csv)"));
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    // A file that cannot be written is not reported.
    WriteCsv(WithCsvSuffix(dialog.selectedFiles().first()), grid.ExportRows());
}

}  // namespace qm::ui

// The CSV export of the album table: one line per album row, each cell with "'" removed, '"'
// doubled and "," written as "','", followed by ","; code page 936, CR LF, no header line.
#pragma once

#include <QString>
#include <string>
#include <vector>

class QWidget;

namespace qm::ui {

class CMyGridCtrl;

std::string BuildCsv(const std::vector<std::vector<QString>>& rows);
// Writes the CSV atomically; false when the file cannot be written.
bool WriteCsv(const QString& path, const std::vector<std::vector<QString>>& rows);
// A chosen file name without extension gets ".csv".
QString WithCsvSuffix(const QString& path);
// The whole export: the notice, the save dialog, the file.
void ExportCsv(QWidget* parent, const CMyGridCtrl& grid);

}  // namespace qm::ui

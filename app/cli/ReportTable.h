// The completeness report of a save folder's archive as the terminal shows it: one table per
// target with 序号, 名称, 应有, 列出, 已保存, 失败, 未列出, 原因.
#pragma once

#include <string>
#include <vector>

#include "download/Archive.h"

namespace qm::cli {

enum class ReportFormat { Table, Tsv };

// Whether the archive shows the album complete: its last run listed pictures, ended without a
// reason, and every listed picture is on disk as recorded with no failure left.
bool ReportComplete(const AlbumReport& r);

// The 原因 cell: the last run's reason, the failures by reason, files gone since they were saved.
std::string ReportReason(const AlbumReport& r);

// UTF-8 text of the report, ending with a line feed. Tables are preceded by a line naming the target;
// TSV rows start with the target kind and number, then the table's cells.
std::string RenderReport(const std::vector<AlbumReport>& albums, ReportFormat format);

}  // namespace qm::cli

// The album table's cells as the terminal shows them, and the three output formats of `list`.
#pragma once

#include <string>
#include <vector>

#include "core/AlbumRecord.h"

namespace qm::cli {

struct AlbumCells {
    Text number;  // 序号: "%04d" of the row number (1 for the first album)
    Text name;    // 名称
    Text count;   // 数量: "%4u" of the picture count, "未知" when unknown (-1)
    Text note;    // 备注: from the privacy flags
};

AlbumCells CellsOf(const ST_PERLISTRECORD& rec, int row);
Text PrivacyNote(uint32_t flags);

enum class ListFormat { Table, Tsv, Json };

// UTF-8 text of the whole list in the chosen format, ending with a line feed (empty list: the
// table's header alone, no TSV row, an empty JSON array).
// `rows` gives each album's row number (序号) when they are not 1, 2, 3...
std::string RenderAlbums(const std::vector<ST_PERLISTRECORD>& albums, ListFormat format,
                         const std::vector<int>* rows = nullptr);

// Columns a text takes on a terminal (East Asian wide and full-width characters take two).
int DisplayWidth(TextView text);

}  // namespace qm::cli

// The ordered album records of the current target. The list thread appends while the window
// reads rows, so every access is guarded; readers get copies.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "core/AlbumRecord.h"

namespace qm {

inline constexpr std::size_t kMaxAlbumNameChars = 80;

class AlbumList {
public:
    // Appends a cleaned, uniquely named copy of `src` (see AppendRecord); returns the new count.
    std::size_t AppendRecord(const ST_PERLISTRECORD& src);
    void Clear();
    std::size_t Count() const;
    std::optional<ST_PERLISTRECORD> Get(std::size_t index) const;
    std::vector<ST_PERLISTRECORD> Snapshot() const;
    // Thumbnail index bookkeeping of the album table.
    void SetThumbIndex(std::size_t index, int32_t thumb);

    std::atomic<uint32_t> SelectedCount{0};

private:
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<ST_PERLISTRECORD>> records_;
};

}  // namespace qm

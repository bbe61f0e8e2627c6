// The ordered album records of the current target. The list thread appends while the window
// reads rows, so every access is guarded; readers get copies.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/AlbumRecord.h"

namespace qm {

inline constexpr std::size_t kMaxAlbumNameChars = 80;

class AlbumList {
public:
    // Appends a cleaned, uniquely named copy of `src` (see AppendRecord); returns the new count.
    std::size_t AppendRecord(const ST_PERLISTRECORD& src);
    // Appends a record exactly as given (one that another list already cleaned and numbered).
    std::size_t AppendListed(const ST_PERLISTRECORD& rec);
    void Clear();
    std::size_t Count() const;
    std::optional<ST_PERLISTRECORD> Get(std::size_t index) const;
    std::vector<ST_PERLISTRECORD> Snapshot() const;
    // Thumbnail index bookkeeping of the album table.
    void SetThumbIndex(std::size_t index, int32_t thumb);
    // Cuts the name of record `index` to at most `maxChars` UTF-16 units (the album table shows at
    // most 80, and the album folder uses the cut name). A high surrogate left alone is dropped too.
    // AppendRecord already keeps every name, numbered ones included, within kMaxAlbumNameChars, so
    // the front ends' cut to that length changes nothing and never takes a " (n)" away.
    void CutName(std::size_t index, std::size_t maxChars) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (index >= records_.size() || records_[index]->Name.size() <= maxChars) return;
        Text& name = records_[index]->Name;
        names_.erase(name);
        name.resize(maxChars);
        if (!name.empty() && name.back() >= 0xD800 && name.back() <= 0xDBFF) name.pop_back();
        names_.insert(name);
    }

    std::atomic<uint32_t> SelectedCount{0};

private:
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<ST_PERLISTRECORD>> records_;
    std::unordered_set<Text> names_;                 // every record's name, to keep them unique
    std::unordered_map<Text, unsigned> nextNumber_;  // per cleaned name: the first " (n)" to try
};

}  // namespace qm

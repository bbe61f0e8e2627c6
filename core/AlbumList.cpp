#include "core/AlbumList.h"

#include <new>

#include "core/CleanFileName.h"

namespace qm {

namespace {
// `name` cut to at most `maxChars` UTF-16 units (never half a surrogate pair), then made
// acceptable as a folder name again: a cut may leave a trailing blank or dot.
Text FitAlbumName(const Text& name, std::size_t maxChars) {
    if (name.size() <= maxChars) return name;
    Text out = name.substr(0, maxChars);
    if (!out.empty() && out.back() >= 0xD800 && out.back() <= 0xDBFF) out.pop_back();
    KeepWindowsSafe(out);
    return out;
}
}  // namespace

std::size_t AlbumList::AppendRecord(const ST_PERLISTRECORD& src) {
    std::unique_ptr<ST_PERLISTRECORD> rec(new (std::nothrow) ST_PERLISTRECORD(src));
    std::lock_guard<std::mutex> lock(mutex_);
    if (!rec) return records_.size();  // the caller shows "内存分配失败"
    rec->ThumbIndex = -1;
    rec->ListPosition = static_cast<uint32_t>(records_.size());
    CleanFileName(rec->Name, true, static_cast<unsigned>(records_.size()));
    // The table shows at most 80 characters and the album folder uses the same name, so a name is
    // made unique within those 80: a numbered name " (n)" shortens the base to make room.
    const Text base = FitAlbumName(rec->Name, kMaxAlbumNameChars);
    rec->Name = base;
    if (names_.count(rec->Name)) {
        unsigned n = nextNumber_.count(base) ? nextNumber_[base] : 1;
        for (;; ++n) {
            const Text tail = FormatText(" (%u)", n);
            Text candidate = FitAlbumName(base, kMaxAlbumNameChars - tail.size()) + tail;
            if (!names_.count(candidate)) {
                rec->Name = std::move(candidate);
                break;
            }
        }
        nextNumber_[base] = n + 1;
    }
    names_.insert(rec->Name);
    records_.push_back(std::move(rec));
    return records_.size();
}

std::size_t AlbumList::AppendListed(const ST_PERLISTRECORD& src) {
    std::unique_ptr<ST_PERLISTRECORD> rec(new (std::nothrow) ST_PERLISTRECORD(src));
    std::lock_guard<std::mutex> lock(mutex_);
    if (!rec) return records_.size();
    records_.push_back(std::move(rec));
    return records_.size();
}

void AlbumList::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    while (!records_.empty()) records_.pop_back();  // last to first
    names_.clear();
    nextNumber_.clear();
}

std::size_t AlbumList::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_.size();
}

std::optional<ST_PERLISTRECORD> AlbumList::Get(std::size_t index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= records_.size()) return std::nullopt;
    return *records_[index];
}

std::vector<ST_PERLISTRECORD> AlbumList::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ST_PERLISTRECORD> out;
    out.reserve(records_.size());
    for (const auto& r : records_) out.push_back(*r);
    return out;
}

void AlbumList::SetThumbIndex(std::size_t index, int32_t thumb) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index < records_.size()) records_[index]->ThumbIndex = thumb;
}

}  // namespace qm

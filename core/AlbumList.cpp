#include "core/AlbumList.h"

#include <new>

#include "core/CleanFileName.h"

namespace qm {

std::size_t AlbumList::AppendRecord(const ST_PERLISTRECORD& src) {
    std::unique_ptr<ST_PERLISTRECORD> rec(new (std::nothrow) ST_PERLISTRECORD(src));
    std::lock_guard<std::mutex> lock(mutex_);
    if (!rec) return records_.size();  // the caller shows "内存分配失败"
    rec->ThumbIndex = -1;
    rec->ListPosition = static_cast<uint32_t>(records_.size());
    CleanFileName(rec->Name, true, static_cast<unsigned>(records_.size()));
    // The table shows at most 80 characters and the album folder uses the same name, so the cut
    // happens here, before the name is made unique.
    if (rec->Name.size() > kMaxAlbumNameChars) {
        rec->Name.resize(kMaxAlbumNameChars);
        if (rec->Name.back() >= 0xD800 && rec->Name.back() <= 0xDBFF) rec->Name.pop_back();  // half a pair
    }
    const auto taken = [this](const Text& name) {
        for (const auto& r : records_)
            if (r->Name == name) return true;
        return false;
    };
    if (taken(rec->Name)) {
        const std::string base = ToUtf8(rec->Name);
        for (unsigned n = 1;; ++n) {
            Text candidate = FormatText("%s (%u)", base.c_str(), n);
            if (!taken(candidate)) {
                rec->Name = std::move(candidate);
                break;
            }
        }
    }
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

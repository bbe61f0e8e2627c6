#include "core/NameRegistry.h"

#include <unicode/uchar.h>

#include <functional>

namespace qm {

namespace {
char16_t FoldUnit(char16_t c) {
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    if (c >= 0xD800 && c <= 0xDFFF) return c;
    const UChar32 f = u_foldCase(c, U_FOLD_CASE_DEFAULT);
    return f <= 0xFFFF ? static_cast<char16_t>(f) : c;
}

void FoldInto(TextView name, Text& out) {
    out.assign(name);
    for (char16_t& c : out) c = FoldUnit(c);
}

uint64_t HashOf(TextView folded) {
    return std::hash<TextView>()(folded);
}
}  // namespace

Text NameRegistry::Fold(TextView name) {
    Text out;
    FoldInto(name, out);
    return out;
}

std::size_t NameRegistry::Find(TextView folded, uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
        const uint32_t slot = slots_[i];
        if (slot == 0) return i;
        if (hashes_[slot - 1] == hash && names_[slot - 1] == folded) return i;
    }
}

bool NameRegistry::Taken(TextView name) const {
    if (names_.empty()) return false;
    FoldInto(name, scratch_);
    const uint64_t hash = HashOf(scratch_);
    return slots_[Find(scratch_, hash)] != 0;
}

void NameRegistry::Add(TextView name) {
    // At most half full, so that a look-up finds an empty slot soon.
    if ((names_.size() + 1) * 2 > slots_.size()) Grow();
    Text folded = Fold(name);
    const uint64_t hash = HashOf(folded);
    const std::size_t at = Find(folded, hash);
    if (slots_[at] != 0) return;
    names_.push_back(std::move(folded));
    hashes_.push_back(hash);
    slots_[at] = static_cast<uint32_t>(names_.size());
}

void NameRegistry::Grow() {
    slots_.assign(slots_.empty() ? 64 : slots_.size() * 2, 0);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t n = 0; n < names_.size(); ++n) {
        std::size_t i = static_cast<std::size_t>(hashes_[n]) & mask;
        while (slots_[i] != 0) i = (i + 1) & mask;
        slots_[i] = static_cast<uint32_t>(n + 1);
    }
}

void NameRegistry::Clear() {
    names_.clear();
    hashes_.clear();
    slots_.clear();
    scratch_.clear();
    counters_.clear();
}

unsigned NameRegistry::NextCounter(const Text& key) const {
    const auto it = counters_.find(key);
    return it == counters_.end() ? 1 : it->second;
}

void NameRegistry::SetNextCounter(const Text& key, unsigned counter) {
    counters_[key] = counter;
}

}  // namespace qm

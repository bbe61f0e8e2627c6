#include "core/NameRegistry.h"

#include <unicode/uchar.h>

namespace qm {

namespace {
char16_t FoldUnit(char16_t c) {
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    if (c >= 0xD800 && c <= 0xDFFF) return c;
    const UChar32 f = u_foldCase(c, U_FOLD_CASE_DEFAULT);
    return f <= 0xFFFF ? static_cast<char16_t>(f) : c;
}
}  // namespace

Text NameRegistry::Fold(TextView name) {
    Text out(name);
    for (char16_t& c : out) c = FoldUnit(c);
    return out;
}

bool NameRegistry::Taken(TextView name) const {
    return folded_.count(Fold(name)) != 0;
}

void NameRegistry::Add(TextView name) {
    folded_.insert(Fold(name));
}

void NameRegistry::Clear() {
    folded_.clear();
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

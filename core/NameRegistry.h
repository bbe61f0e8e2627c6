// The file names already given to the pictures of one album, for the duplicate check: a hash set
// of the names folded to one letter case, and per base name the first counter not yet known to be
// taken, so that naming thousands of pictures of the same title stays linear.
#pragma once

#include <cstddef>
#include <unordered_map>
#include <unordered_set>

#include "net/StringCtrl.h"

namespace qm {

class NameRegistry {
public:
    // True when `name` equals, ignoring letter case, a name added before.
    bool Taken(TextView name) const;
    void Add(TextView name);
    void Clear();

    // The first counter worth trying for the candidates built from `key` (1 when none was tried).
    // Names are only ever added, so a counter found taken once stays taken.
    unsigned NextCounter(const Text& key) const;
    void SetNextCounter(const Text& key, unsigned counter);

    // `name` with every letter folded to one case, as the check compares names.
    static Text Fold(TextView name);

private:
    std::unordered_set<Text> folded_;
    std::unordered_map<Text, unsigned> counters_;
};

}  // namespace qm

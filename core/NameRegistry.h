// The file names already given to the pictures of one album, for the duplicate check: the names
// folded to one letter case in an open-addressing hash table, and per base name the first counter
// not yet known to be taken, so that naming thousands of pictures of the same title stays linear.
// Every picture's name is looked up and added once, so the table is made for that: one fold into a
// reused buffer, no allocation per look-up, and the full hash kept beside each name. Used by one
// thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "net/StringCtrl.h"

namespace qm {

class NameRegistry {
public:
    // True when `name` equals, ignoring letter case, a name added before.
    bool Taken(TextView name) const;
    void Add(TextView name);
    void Clear();
    std::size_t Size() const { return names_.size(); }

    // The first counter worth trying for the candidates built from `key` (1 when none was tried).
    // Names are only ever added, so a counter found taken once stays taken.
    unsigned NextCounter(const Text& key) const;
    void SetNextCounter(const Text& key, unsigned counter);

    // `name` with every letter folded to one case, as the check compares names.
    static Text Fold(TextView name);

private:
    // The slot holding `folded` (hash `hash`), or the empty slot where it would go.
    std::size_t Find(TextView folded, uint64_t hash) const;
    void Grow();

    std::vector<Text> names_;       // folded, in the order added
    std::vector<uint64_t> hashes_;  // hash of names_[i]
    std::vector<uint32_t> slots_;   // 0: empty, else 1 + an index into names_
    mutable Text scratch_;          // the folded form of the name being looked up
    std::unordered_map<Text, unsigned> counters_;
};

}  // namespace qm

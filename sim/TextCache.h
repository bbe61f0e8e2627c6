// Texts the simulator built once and hands out again: a large album's rendered pages and their
// compressed forms. A client listing an album again asks for the same pages, and building them
// again cost the simulator, which shares the processor with the client it serves, more than the
// client's own work. Bounded by bytes; the oldest text goes first. Safe to share between threads.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace qm::sim {

class TextCache {
public:
    explicit TextCache(size_t budgetBytes) : budget_(budgetBytes) {}

    // The text kept under `key`; null when none is.
    std::shared_ptr<const std::string> Find(const std::string& key) const;
    // Keeps `text` under `key`, dropping the oldest texts while the budget would be passed. A text
    // larger than the whole budget is not kept.
    void Keep(const std::string& key, std::shared_ptr<const std::string> text);
    size_t Bytes() const;

private:
    mutable std::mutex mu_;
    std::unordered_map<std::string, std::shared_ptr<const std::string>> texts_;
    std::deque<std::string> order_;  // keys, oldest first
    size_t bytes_ = 0;
    const size_t budget_;
};

}  // namespace qm::sim

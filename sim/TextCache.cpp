#include "sim/TextCache.h"

namespace qm::sim {

std::shared_ptr<const std::string> TextCache::Find(const std::string& key) const {
    std::lock_guard<std::mutex> lock(mu_);
    const auto it = texts_.find(key);
    return it == texts_.end() ? nullptr : it->second;
}

void TextCache::Keep(const std::string& key, std::shared_ptr<const std::string> text) {
    if (!text || text->size() > budget_) return;
    std::lock_guard<std::mutex> lock(mu_);
    if (texts_.count(key)) return;  // two threads built the same text; the first one stays
    while (!order_.empty() && bytes_ + text->size() > budget_) {
        const auto oldest = texts_.find(order_.front());
        bytes_ -= oldest->second->size();
        texts_.erase(oldest);
        order_.pop_front();
    }
    bytes_ += text->size();
    texts_.emplace(key, std::move(text));
    order_.push_back(key);
}

size_t TextCache::Bytes() const {
    std::lock_guard<std::mutex> lock(mu_);
    return bytes_;
}

}  // namespace qm::sim

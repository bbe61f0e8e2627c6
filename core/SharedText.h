// A text that many holders share, kept once however many hold it: the request header lines of an
// album's pictures (its Referer) are the same for every picture, and an album can list 100,000.
#pragma once

#include <memory>
#include <utility>

#include "net/StringCtrl.h"

namespace qm {

class SharedText {
public:
    SharedText() = default;
    SharedText(Text text)  // NOLINT(google-explicit-constructor): stands in for a Text
        : text_(text.empty() ? nullptr : std::make_shared<const Text>(std::move(text))) {}
    SharedText(const char16_t* text) : SharedText(Text(text)) {}  // NOLINT(google-explicit-constructor)

    const Text& Get() const { return text_ ? *text_ : Empty(); }
    operator const Text&() const { return Get(); }  // NOLINT(google-explicit-constructor)
    bool empty() const { return !text_; }
    bool operator==(const Text& other) const { return Get() == other; }

private:
    static const Text& Empty() {
        static const Text empty;
        return empty;
    }
    std::shared_ptr<const Text> text_;  // null for the empty text
};

}  // namespace qm

#include "app/cli/ServiceWords.h"

#include <vector>

#include "net/StringCtrl.h"
#include "sites/Services.h"

namespace qm::cli {
namespace {

bool Ascii(unsigned char c) {
    return c < 0x80;
}

// "a、b 或 c": a space stands between the last joining word and a neighbour written in ASCII.
std::string Join(const std::vector<std::string>& items, const std::string& last) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i + 1 == items.size() && i > 0) {
            if (Ascii(static_cast<unsigned char>(out.back()))) out += ' ';
            out += last;
            if (Ascii(static_cast<unsigned char>(items[i].front()))) out += ' ';
        } else if (i > 0) {
            out += "、";
        }
        out += items[i];
    }
    return out;
}

template <typename Fn>
std::vector<std::string> EachService(Fn&& fn) {
    std::vector<std::string> out;
    for (const Service& s : Services()) out.push_back(fn(s));
    return out;
}

std::string ByAddress() {
    std::string out, fallback;
    // Later rows first, as an address is told apart (sites/Services.h).
    const auto services = Services();
    for (auto it = services.rbegin(); it != services.rend(); ++it) {
        if (!it->helpAddress) {
            fallback = it->word;
            continue;
        }
        out += std::string(it->helpAddress) + "是 " + it->word + "，";
    }
    return out + "其余是 " + fallback;
}

void Replace(std::string& text, const std::string& mark, const std::string& words) {
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + words.size()))
        text.replace(at, mark.size(), words);
}

}  // namespace

std::string ServiceWords(std::string text) {
    std::string bar;
    for (const Service& s : Services()) bar += (bar.empty() ? "" : "|") + std::string(s.word);
    Replace(text, "{kinds|}", bar);
    Replace(text, "{kinds}", Join(EachService([](const Service& s) { return std::string(s.word); }), "或"));
    Replace(
        text, "{kinds+}",
        Join(EachService([](const Service& s) { return std::string(s.word) + "（" + s.helpAlbums + "）"; }),
             "或"));
    Replace(text, "{by-address}", ByAddress());
    Replace(text, "{targets}",
            Join(EachService([](const Service& s) { return std::string(s.helpTarget); }), "，或"));
    const auto names = EachService([](const Service& s) { return ToUtf8(s.name); });
    Replace(text, "{names和}", Join(names, "和"));
    Replace(text, "{names或}", Join(names, "或"));
    return text;
}

}  // namespace qm::cli

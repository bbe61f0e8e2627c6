// Writes JSON the way the QQ services print it: either the pretty form with `"key" : value` pairs and
// three-blank indents (album and photo lists), or compact (mood, Weibo and refusal answers). Slashes are
// always escaped as `\/`; non-ASCII characters stay raw UTF-8 unless asciiOnly asks for `\uXXXX`.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace qm::sim {

using OJson = nlohmann::ordered_json;

struct JsonStyle {
    bool pretty = false;
    bool asciiOnly = false;
};

std::string WriteJson(const OJson& value, JsonStyle style);
// A JSON string literal (with quotes) under the same escaping rules.
std::string JsonQuote(const std::string& text, bool asciiOnly = false);

}  // namespace qm::sim

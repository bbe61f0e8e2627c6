// Putting untrusted text (names, titles, descriptions from a service; file names from the disk)
// into a page: as HTML text or attribute, as a relative address, or as JSON inside a <script>.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

namespace qm::gallery {

// Escapes & < > " ' so the text stays text in element content and in quoted attributes.
std::string EscapeHtml(std::string_view utf8);

// One path component (UTF-8) as a relative address: everything that could end, restart or
// redirect an address (% # ? : / \ blanks, quotes, controls) is percent-encoded; other UTF-8 stays
// as it is. A name such as "javascript:x" therefore stays a file name.
std::string UrlComponent(std::string_view utf8);

// JSON for a <script type="application/json"> block: < > & and U+2028/U+2029 written as \u escapes,
// so no text can close the element or start a comment; invalid UTF-8 becomes U+FFFD.
std::string ScriptJson(const nlohmann::json& value);

}  // namespace qm::gallery

// The site catalogue: 21 site indexes and the mapping of a typed address to one of them.
#pragma once

#include <optional>

#include "net/StringCtrl.h"

namespace qm {

inline constexpr int kSiteCount = 21;

struct SiteDetection {
    int site = 0;
};

// Nothing when the text holds no "http://" or "https://"; otherwise the site (the current
// selection when no test matches). Which service of site 0 (the QQ Zone family) an address names
// is the service table's question (sites/Services.h).
std::optional<SiteDetection> DetectSite(TextView text, int currentSelection);

// The site choice captions, index 0 to 20.
Text SiteCaption(int index);

}  // namespace qm

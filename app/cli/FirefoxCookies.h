// Cookies read from a Firefox profile's cookies.sqlite. The browser keeps the file open (and may
// hold a lock on it), so the file and its write-ahead log are copied to a private temporary
// folder and the copy is read.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "net/CookieStore.h"

namespace qm::cli {

// The domains of the QQ Zone family, whose cookies an import keeps.
bool IsFamilyDomain(const std::string& domain);

// The profile folder Firefox uses by default under `firefoxFolder` (~/.mozilla/firefox), read
// from its profiles.ini; empty when there is none.
std::filesystem::path DefaultFirefoxProfile(const std::filesystem::path& firefoxFolder);

// Every cookie of `cookiesFile` (a profile's cookies.sqlite); false with `error` set when the file
// cannot be copied or read.
bool ReadFirefoxCookies(const std::filesystem::path& cookiesFile, std::vector<Cookie>& out, std::string& error);

}  // namespace qm::cli

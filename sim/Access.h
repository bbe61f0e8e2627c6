// Who a request comes from and what it may see, decided from its cookies as the services do.
#pragma once

#include <map>
#include <string>

#include "sim/Answer.h"

namespace qm::sim {

std::map<std::string, std::string> ParseCookieHeader(const std::string& header);
Viewer ReadViewer(const ScenarioModel& m, const std::map<std::string, std::string>& cookies);

// Whether the request's g_tk equals the token of the cookie the interface checks: the skey cookie,
// or (pskeyAlso) the p_skey cookie when the request carries one. No cookie means the empty key.
bool TokenMatches(const SimRequest& r, bool pskeyAlso);

bool IsOwner(const Owner& o, const Viewer& v);
bool MaySeeSpace(const Owner& o, const Viewer& v);

enum class AlbumAccess { Allowed, Denied, NeedPassword };
AlbumAccess CheckAlbum(const Owner& o, const Album& a, const Viewer& v, const PasswordBook& pw);

}  // namespace qm::sim

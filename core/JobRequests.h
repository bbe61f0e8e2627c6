// What goes into the jobs, by value, and what the list job hands back. No job reads a control.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/AlbumRecord.h"
#include "core/ExtSettings.h"
#include "core/Outcome.h"
#include "core/SettingsBlock.h"

namespace qm {

// What a service learned while listing a target's albums and needs again to list their pictures
// (the hosts of a route lookup, an account id). Opaque here: only the service's fetcher reads it.
class ServiceState {
public:
    virtual ~ServiceState() = default;
};

struct ListRequest {
    Text target;  // as typed (trimmed by the job)
    TargetKind kind = TargetKind::QZone;
    // False when no kind of the QQ Zone family is chosen (another site): nothing is listed.
    bool kindChosen = true;
};

// Why a list came back empty (or cut short).
enum class ListReason : uint8_t {
    None,
    EmptyTarget,
    NotANumber,
    NoAccess,     // no album: the space is not public, or the service asked for a login
    RateLimited,  // the service kept refusing as busy until the back-off gave up
    LoginNeeded,  // the service asked for a login (-3000) or a verification (-3001)
    Network,      // `reasonText` holds the cause
    Stopped,
};

struct ListResult {
    Text target;  // the typed target (trimmed): Referer of the photo lists, recent-target entry
    TargetKind kind = TargetKind::QZone;
    std::vector<ST_PERLISTRECORD> albums;
    std::shared_ptr<const ServiceState> service;  // for the photo lists of these albums
    Text targetFolder;     // sub-folder of the save folder for this target (ends with a separator)
    Text targetSubFolder;
    ListReason reason = ListReason::None;
    std::string reasonText;
};

// The settings a download works with, copied when it starts.
struct SettingsSnapshot {
    SiteProfile profile;
    DownParam down;
    int site = 0;
};

struct DownloadRequest {
    ListResult list;
    std::vector<int> albums;  // indexes into list.albums, in table order
    Text saveFolder;
    SettingsSnapshot settings;
    Text programFolder;       // extension settings and the Q2.txt marker live there
    // Fetch again only the pictures the save folder's archive records as failed.
    bool retryFailed = false;
    // Fetch every listed picture even when the archive records it as saved.
    bool refetch = false;
};

}  // namespace qm

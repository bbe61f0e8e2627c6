// One album (or pseudo-album) found for the target.
#pragma once

#include <cstdint>

#include "net/StringCtrl.h"

namespace qm {

enum PrivacyFlag : uint32_t {
    PrivacyEncrypted = 0x1,
    PrivacyPrivate = 0x2,
    PrivacyFriends = 0x4,
    PrivacyNumber = 0x80000000u,  // low 31 bits are a number shown as "%08u"
};

struct ST_PERLISTRECORD {
    Text Name;
    Text ListParam;   // what the photo-list fetcher needs for this album
    Text CoverUrl;    // "123" marks the mood pseudo-album
    Text ExtraText1;  // QQ group album creation time
    Text ExtraText2;
    int32_t PictureCount = 0;  // -1 unknown
    uint32_t PrivacyFlags = 0;
    uint32_t ListPosition = 0;
    int32_t ThumbIndex = -1;
};

}  // namespace qm

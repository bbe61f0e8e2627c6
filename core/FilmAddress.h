// Where the film of a video item can be had, as the service says right before its download (its
// download addresses are signed and expire, so they are never kept from the listing).
#pragma once

#include <cstdint>

#include "core/Outcome.h"
#include "net/StringCtrl.h"

namespace qm {

enum class FilmState : uint8_t {
    Ready,       // `download` is the file's address
    NotReady,    // the service is still preparing the film; a later run may get it
    StreamOnly,  // the service gives only an online play address (`play`), no file
    Failed,      // the lookup itself failed: `failure` says why
};

struct FilmAddress {
    FilmState state = FilmState::Failed;
    Text download;  // the film file (Ready)
    Text play;      // the online play address, where the service names one
    Text headers;   // request header lines the film host wants (a Referer)
    Failure failure;
};

}  // namespace qm

// The interface of the general thumbnailer, a module loaded only when a picture needs it (see
// GeneralThumbnailer.h): libvips and the ~80 libraries it brings are then mapped into the process
// only when the gallery meets a picture the JPEG thumbnailer does not handle, not at every start.
// Plain C, so the program and the module agree on it whatever they were compiled with.
#pragma once

#include <stddef.h>

extern "C" {

struct QmThumbnailerV1 {
    // Starts the library once; 0 when it cannot start.
    int (*start)(void);
    // The JPEG thumbnail of the picture file `path`, at most `box` pixels on each side: *out
    // (released with `release`) and *length. 0 when the picture cannot be decoded.
    int (*make)(const char* path, int box, char** out, size_t* length);
    void (*release)(char* out);
    // Called by each thread that made thumbnails before it ends.
    void (*threadDone)(void);
};

// The one symbol the module exports.
#define QM_THUMBNAILER_V1_SYMBOL "qm_thumbnailer_v1"
typedef const QmThumbnailerV1* (*QmThumbnailerV1Entry)(void);
}

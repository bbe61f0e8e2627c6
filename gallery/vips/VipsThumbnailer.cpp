// The general thumbnailer module (libquillmoss-thumbnailer.so): libvips, with shrink-on-load for the
// formats that have it. Loaded by gallery/GeneralThumbnailer.cpp on first use.
#include <vips/vips.h>

#include <cstring>
#include <memory>
#include <string_view>

#include "gallery/ThumbnailerPlugin.h"

namespace {

// Pictures larger than this are not decoded at all (a decompression bomb or a corrupt header).
constexpr double kMaxPixels = 1.0e9;
// Formats without reduce-on-load are decoded at full size first: bound them tighter.
constexpr double kMaxPixelsFullDecode = 1.5e8;

int Start() {
    static const bool ok = [] {
        if (VIPS_INIT("quillmoss") != 0) return false;
        vips_concurrency_set(1);         // the gallery works on several pictures at once instead
        vips_cache_set_max(0);           // every picture is opened once; caching only holds memory
        vips_block_untrusted_set(TRUE);  // only the well-fuzzed loaders for downloaded files
        // A damaged picture is reported by its placeholder, not by lines on the terminal.
        g_log_set_handler(
            "VIPS", GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
            [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
        return true;
    }();
    return ok ? 1 : 0;
}

struct VipsUnref {
    void operator()(VipsImage* im) const {
        if (im) g_object_unref(im);
    }
};
using ImagePtr = std::unique_ptr<VipsImage, VipsUnref>;

bool LoaderShrinksOnLoad(const char* loader) {
    const std::string_view l = loader ? loader : "";
    return l.find("Jpeg") != std::string_view::npos || l.find("Webp") != std::string_view::npos ||
           l.find("Heif") != std::string_view::npos;
}

VipsImage* Thumbnail(const char* file, int box) {
    const char* loader = vips_foreign_find_load(file);
    if (!loader) return nullptr;
    {
        // The header alone tells the size; nothing is decoded yet.
        ImagePtr header(vips_image_new_from_file(file, "access", VIPS_ACCESS_SEQUENTIAL, nullptr));
        if (!header) return nullptr;
        const double pixels = double(vips_image_get_width(header.get())) * vips_image_get_height(header.get());
        if (pixels > (LoaderShrinksOnLoad(loader) ? kMaxPixels : kMaxPixelsFullDecode)) return nullptr;
    }
    VipsImage* raw = nullptr;
    if (vips_thumbnail(file, &raw, box, "height", box, "size", VIPS_SIZE_DOWN, nullptr)) return nullptr;
    ImagePtr image(raw);
    if (vips_image_hasalpha(image.get())) {
        VipsArrayDouble* white = vips_array_double_newv(1, 255.0);
        VipsImage* flat = nullptr;
        const int r = vips_flatten(image.get(), &flat, "background", white, nullptr);
        vips_area_unref(VIPS_AREA(white));
        if (r) return nullptr;
        image.reset(flat);
    }
    const VipsInterpretation kind = vips_image_get_interpretation(image.get());
    if (kind != VIPS_INTERPRETATION_sRGB && kind != VIPS_INTERPRETATION_B_W) {
        VipsImage* srgb = nullptr;
        if (vips_colourspace(image.get(), &srgb, VIPS_INTERPRETATION_sRGB, nullptr)) return nullptr;
        image.reset(srgb);
    }
    return image.release();
}

int Make(const char* path, int box, char** out, size_t* length) {
    *out = nullptr;
    *length = 0;
    ImagePtr image(Thumbnail(path, box));
    void* buf = nullptr;
    size_t len = 0;
    const bool ok = image && vips_jpegsave_buffer(image.get(), &buf, &len, "Q", 80, "strip", TRUE, "optimize_coding",
                                                  TRUE, "interlace", FALSE, nullptr) == 0;
    vips_error_clear();
    if (!ok) return 0;
    *out = static_cast<char*>(buf);
    *length = len;
    return 1;
}

void Release(char* out) {
    g_free(out);
}

void ThreadDone() {
    vips_thread_shutdown();
}

const QmThumbnailerV1 kApi{Start, Make, Release, ThreadDone};

}  // namespace

extern "C" __attribute__((visibility("default"))) const QmThumbnailerV1* qm_thumbnailer_v1(void) {
    return &kApi;
}

#include "gallery/Thumbnails.h"

#include <vips/vips.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string_view>
#include <thread>

#include "net/FileUtil.h"

namespace qm::gallery {

namespace fs = std::filesystem;

namespace {

// Pictures larger than this are not decoded at all (a decompression bomb or a corrupt header).
constexpr double kMaxPixels = 1.0e9;
// Formats without reduce-on-load are decoded at full size first: bound them tighter.
constexpr double kMaxPixelsFullDecode = 1.5e8;
constexpr std::uintmax_t kMaxFileBytes = 256u << 20;

bool VipsReady() {
    static const bool ok = [] {
        if (VIPS_INIT("quillmoss") != 0) return false;
        vips_concurrency_set(1);         // parallel over pictures instead, see UpdateThumbnails
        vips_cache_set_max(0);           // every picture is opened once; caching only holds memory
        vips_block_untrusted_set(TRUE);  // only the well-fuzzed loaders for downloaded files
        // A damaged picture is reported by its placeholder, not by lines on the terminal.
        g_log_set_handler(
            "VIPS", GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
            [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
        return true;
    }();
    return ok;
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

// The JPEG bytes of the thumbnail, or empty when the picture cannot be decoded.
std::string MakeThumbnailJpeg(const fs::path& picture) {
    const std::string file = picture.string();
    const char* loader = vips_foreign_find_load(file.c_str());
    if (!loader) return {};
    {
        // The header alone tells the size; nothing is decoded yet.
        ImagePtr header(vips_image_new_from_file(file.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, nullptr));
        if (!header) return {};
        const double pixels =
            double(vips_image_get_width(header.get())) * vips_image_get_height(header.get());
        if (pixels > (LoaderShrinksOnLoad(loader) ? kMaxPixels : kMaxPixelsFullDecode)) return {};
    }
    VipsImage* raw = nullptr;
    if (vips_thumbnail(file.c_str(), &raw, kThumbSize, "height", kThumbSize, "size", VIPS_SIZE_DOWN, nullptr))
        return {};
    ImagePtr image(raw);
    if (vips_image_hasalpha(image.get())) {
        VipsArrayDouble* white = vips_array_double_newv(1, 255.0);
        VipsImage* flat = nullptr;
        const int r = vips_flatten(image.get(), &flat, "background", white, nullptr);
        vips_area_unref(VIPS_AREA(white));
        if (r) return {};
        image.reset(flat);
    }
    const VipsInterpretation kind = vips_image_get_interpretation(image.get());
    if (kind != VIPS_INTERPRETATION_sRGB && kind != VIPS_INTERPRETATION_B_W) {
        VipsImage* srgb = nullptr;
        if (vips_colourspace(image.get(), &srgb, VIPS_INTERPRETATION_sRGB, nullptr)) return {};
        image.reset(srgb);
    }
    void* buf = nullptr;
    size_t len = 0;
    if (vips_jpegsave_buffer(image.get(), &buf, &len, "Q", 80, "strip", TRUE, "optimize_coding", TRUE,
                             "interlace", FALSE, nullptr))
        return {};
    std::string out(static_cast<const char*>(buf), len);
    g_free(buf);
    return out;
}

bool SameTime(const fs::path& a, fs::file_time_type t) {
    std::error_code ec;
    const auto at = fs::last_write_time(a, ec);
    return !ec && at == t;
}

ThumbState UpdateOne(const fs::path& folder, const fs::path& thumbs, const std::string& name) {
    const fs::path picture = folder / name;
    const fs::path thumb = thumbs / ThumbName(name);
    fs::path bad = thumb;
    bad.replace_extension(".bad");
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(picture, ec);
    const auto time = fs::last_write_time(picture, ec);
    if (ec || !fs::is_regular_file(st)) return ThumbState::Failed;
    if (SameTime(thumb, time)) return ThumbState::Kept;
    if (SameTime(bad, time)) return ThumbState::Failed;

    std::string jpeg;
    const std::uintmax_t bytes = fs::file_size(picture, ec);
    if (!ec && bytes <= kMaxFileBytes) {
        jpeg = MakeThumbnailJpeg(picture);
        vips_error_clear();
    }
    if (jpeg.empty()) {
        // Remember the failure (so the next run does not decode it again) and drop a stale thumbnail.
        fs::remove(thumb, ec);
        if (WriteFileAtomic(bad, {}, 0, /*durable=*/false)) fs::last_write_time(bad, time, ec);
        return ThumbState::Failed;
    }
    if (!WriteFileAtomic(thumb, jpeg, 0, /*durable=*/false)) return ThumbState::Failed;
    fs::last_write_time(thumb, time, ec);
    fs::remove(bad, ec);
    return ThumbState::Made;
}

}  // namespace

std::string ThumbName(const std::string& pictureName) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a, 64 bits
    for (unsigned char c : pictureName) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char out[24];
    std::snprintf(out, sizeof out, "%016llx.jpg", static_cast<unsigned long long>(h));
    return out;
}

ThumbCounts UpdateThumbnails(const fs::path& albumFolder, const std::vector<std::string>& pictures,
                             std::vector<ThumbState>* states, unsigned threads) {
    std::vector<ThumbState> result(pictures.size(), ThumbState::Failed);
    const fs::path thumbs = albumFolder / kThumbFolder;
    std::error_code ec;
    // A ".thumbs" that is a link could lead out of the save folder: never write through it.
    bool usable = !pictures.empty() && VipsReady() && !fs::is_symlink(thumbs, ec);
    if (usable) {
        fs::create_directory(thumbs, ec);
        usable = fs::is_directory(thumbs, ec);
    }
    if (usable) {
        if (threads == 0) threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
        threads = static_cast<unsigned>(std::min<std::size_t>(threads, pictures.size()));
        std::atomic<std::size_t> next{0};
        auto work = [&] {
            for (std::size_t i; (i = next.fetch_add(1)) < pictures.size();)
                result[i] = UpdateOne(albumFolder, thumbs, pictures[i]);
            vips_thread_shutdown();
        };
        std::vector<std::thread> pool;
        for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
        work();
        for (auto& t : pool) t.join();
    }
    ThumbCounts counts;
    for (ThumbState s : result) {
        if (s == ThumbState::Made)
            ++counts.made;
        else if (s == ThumbState::Kept)
            ++counts.kept;
        else
            ++counts.failed;
    }
    if (states) *states = std::move(result);
    return counts;
}

}  // namespace qm::gallery

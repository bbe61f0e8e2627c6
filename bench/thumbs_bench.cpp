// Gallery thumbnails: an album of 2,000 photo-sized JPEGs (about 200 KiB, 1600x1200) gets its
// thumbnails, then the same album again with nothing new. Prints wall and CPU time per picture.
//
//   thumbs_bench [--quick] [--threads N]
//
// --quick uses 200 pictures. The pictures are eight different generated photos (smooth noise,
// so they compress like photographs, not like flat colour) copied under distinct names.
#include <sys/resource.h>
#include <unistd.h>
#include <vips/vips.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gallery/Thumbnails.h"
#include "net/FileUtil.h"

namespace fs = std::filesystem;

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A 1600x1200 colour photo stand-in of about `target` bytes.
std::string MakePhoto(int seed, std::size_t target) {
    VipsImage *noise = nullptr, *blur = nullptr, *scaled = nullptr, *colour = nullptr, *u8 = nullptr;
    std::string out;
    if (vips_gaussnoise(&noise, 1600, 1200, "sigma", 60.0, "mean", 128.0, "seed", seed, nullptr) == 0 &&
        vips_gaussblur(noise, &blur, 1.2, nullptr) == 0 &&
        vips_linear1(blur, &scaled, 1.0, 0.0, nullptr) == 0 &&
        vips_bandjoin_const1(scaled, &colour, 90.0 + seed * 10, nullptr) == 0 &&
        vips_cast_uchar(colour, &u8, nullptr) == 0) {
        VipsImage* rgb = nullptr;
        VipsImage* bands[3] = {u8, u8, u8};
        if (vips_bandjoin(bands, &rgb, 3, nullptr) == 0) {
            VipsImage *bands3 = nullptr, *three = nullptr;
            vips_extract_band(rgb, &bands3, 0, "n", 3, nullptr);
            three = vips_image_copy_memory(bands3);  // computed once, saved at several qualities
            g_object_unref(bands3);
            for (int q = 95; q >= 30 && (out.empty() || out.size() > target * 21 / 20); q -= 5) {
                void* buf = nullptr;
                size_t len = 0;
                if (vips_jpegsave_buffer(three, &buf, &len, "Q", q, nullptr)) break;
                out.assign(static_cast<const char*>(buf), len);
                g_free(buf);
            }
            g_object_unref(three);
            g_object_unref(rgb);
        }
    }
    for (VipsImage* im : {noise, blur, scaled, colour, u8})
        if (im) g_object_unref(im);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t count = 2000;
    unsigned threads = 0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--quick"))
            count = 200;
        else if (!std::strcmp(argv[i], "--threads") && i + 1 < argc)
            threads = unsigned(std::atoi(argv[++i]));
    }
    if (VIPS_INIT(argv[0])) return 1;
    const fs::path dir = fs::temp_directory_path() / ("qm-thumbs-bench-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);

    std::vector<std::string> photos;
    for (int s = 1; s <= 8; ++s) photos.push_back(MakePhoto(s, 200 * 1024));
    if (photos[0].empty()) {
        std::fprintf(stderr, "thumbs_bench: cannot make the pictures: %s\n", vips_error_buffer());
        return 1;
    }
    std::size_t bytes = 0;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < count; ++i) {
        names.push_back("IMG_" + std::to_string(i + 1) + ".jpg");
        const std::string& p = photos[i % photos.size()];
        qm::WriteFileAtomic(dir / names.back(), p, 0, false);
        bytes += p.size();
    }

    auto timed = [&](const char* what) {
        const double cpu0 = CpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        const auto c = qm::gallery::UpdateThumbnails(dir, names, nullptr, threads);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double cpu = CpuSeconds() - cpu0;
        std::printf(
            "%s: %zu pictures, made %zu, kept %zu, failed %zu: wall %.2f s, %.2f ms per picture, "
            "CPU %.2f ms per picture\n",
            what, count, c.made, c.kept, c.failed, wall, wall * 1000 / double(count),
            cpu * 1000 / double(count));
        return c.failed == 0;
    };
    std::printf("album: %zu JPEGs 1600x1200, %.0f KiB on average\n", count,
                double(bytes) / double(count) / 1024);
    bool ok = timed("thumbnails first run");
    ok = timed("thumbnails again (nothing new)") && ok;
    std::error_code ec;
    fs::remove_all(dir, ec);
    return ok ? 0 : 1;
}

#include "gallery/JpegThumbnail.h"

// clang-format off
#include <cstdio>   // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>
// clang-format on

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace qm::gallery {

namespace {

constexpr double kMaxPixels = 1.0e9;
constexpr long kMaxDecodeMemory = 256L << 20;
constexpr int kQuality = 80;

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps back to the
// call that started the work. Warnings (a damaged stretch of a picture) are not printed.
struct JumpingError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void ExitByJump(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JumpingError*>(cinfo->err)->jump, 1);
}
void Silent(j_common_ptr) {}

void SetUpErrors(JumpingError& e) {
    jpeg_std_error(&e.mgr);
    e.mgr.error_exit = ExitByJump;
    e.mgr.output_message = Silent;
}

// The Exif orientation (1..8) from an APP1 marker's bytes; 1 when there is none or it is damaged.
int ExifOrientation(const unsigned char* p, std::size_t n) {
    if (n < 14 || std::memcmp(p, "Exif\0\0", 6) != 0) return 1;
    p += 6;
    n -= 6;
    const bool little = p[0] == 'I' && p[1] == 'I';
    if (!little && !(p[0] == 'M' && p[1] == 'M')) return 1;
    auto u16 = [&](std::size_t at) -> unsigned {
        return little ? unsigned(p[at] | p[at + 1] << 8) : unsigned(p[at] << 8 | p[at + 1]);
    };
    auto u32 = [&](std::size_t at) -> std::size_t {
        return little ? std::size_t(p[at]) | std::size_t(p[at + 1]) << 8 | std::size_t(p[at + 2]) << 16 |
                            std::size_t(p[at + 3]) << 24
                      : std::size_t(p[at]) << 24 | std::size_t(p[at + 1]) << 16 | std::size_t(p[at + 2]) << 8 |
                            std::size_t(p[at + 3]);
    };
    const std::size_t ifd = u32(4);
    if (ifd > n || n - ifd < 2) return 1;
    const unsigned entries = u16(ifd);
    for (unsigned i = 0; i < entries; ++i) {
        const std::size_t at = ifd + 2 + std::size_t(i) * 12;
        if (at + 12 > n) break;
        if (u16(at) == 0x0112 && u16(at + 2) == 3 /* SHORT */) {
            const unsigned v = u16(at + 8);
            return v >= 1 && v <= 8 ? int(v) : 1;
        }
    }
    return 1;
}

// Fixed-point weights (sum 1 << 14) of a triangle filter from `in` samples to `out` (out <= in):
// output sample o takes the inputs first[o] .. first[o] + count[o] - 1.
struct Taps {
    std::vector<int> first, count;
    std::vector<int32_t> weights;  // count[o] entries for each o, in order
    std::vector<std::size_t> at;   // where o's weights begin
};

Taps MakeTaps(int in, int out) {
    Taps t;
    const double scale = double(out) / in;
    const double radius = std::max(1.0, 1.0 / scale);
    for (int o = 0; o < out; ++o) {
        const double centre = (o + 0.5) / scale - 0.5;
        const int lo = std::clamp(int(std::floor(centre - radius)) + 1, 0, in - 1);
        const int hi = std::clamp(int(std::ceil(centre + radius)) - 1, 0, in - 1);
        std::vector<double> w(std::size_t(hi - lo + 1), 0.0);
        double sum = 0;
        for (int i = int(std::floor(centre - radius)) + 1; i <= int(std::ceil(centre + radius)) - 1; ++i) {
            const double v = 1.0 - std::abs(i - centre) / radius;
            if (v <= 0) continue;
            w[std::size_t(std::clamp(i, lo, hi) - lo)] += v;  // beyond an edge: the edge sample
            sum += v;
        }
        t.first.push_back(lo);
        t.count.push_back(hi - lo + 1);
        t.at.push_back(t.weights.size());
        int32_t total = 0;
        std::size_t largest = t.weights.size();
        for (double v : w) {
            const auto q = int32_t(std::lround(v / sum * (1 << 14)));
            if (t.weights.size() == largest || q > t.weights[largest]) largest = t.weights.size();
            t.weights.push_back(q);
            total += q;
        }
        t.weights[largest] += (1 << 14) - total;  // rounding: the sum stays exact
    }
    return t;
}

uint8_t Clamp8(int32_t v) {
    return uint8_t(std::clamp((v + (1 << 13)) >> 14, 0, 255));
}

// State of one decoding, kept outside the function that holds the jump point (locals changed
// after setjmp are undefined after the jump).
struct Decoding {
    JumpingError error{};
    jpeg_decompress_struct d{};
    std::FILE* file = nullptr;
    int box = 0;
    bool handled = true;
    int orientation = 1;
    int width = 0, height = 0;     // the thumbnail, before turning upright
    std::vector<uint8_t> rows;     // decoded rows, each already brought to `width`
    std::vector<uint8_t> row;      // one decoded row
    std::vector<uint8_t> thumb;    // width x height RGB
};

bool Decode(Decoding* s) {
    jpeg_decompress_struct& d = s->d;
    d.err = &s->error.mgr;
    SetUpErrors(s->error);
    if (setjmp(s->error.jump)) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    jpeg_create_decompress(&d);
    d.mem->max_memory_to_use = kMaxDecodeMemory;
    jpeg_stdio_src(&d, s->file);
    jpeg_save_markers(&d, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&d, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&d, TRUE);
    for (jpeg_saved_marker_ptr m = d.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && s->orientation == 1)
            s->orientation = ExifOrientation(m->data, m->data_length);
        if (m->marker == JPEG_APP0 + 2 && m->data_length >= 12 && std::memcmp(m->data, "ICC_PROFILE", 12) == 0)
            s->handled = false;  // its colours need converting
    }
    if (d.jpeg_color_space == JCS_CMYK || d.jpeg_color_space == JCS_YCCK) s->handled = false;
    const double w = d.image_width, h = d.image_height;
    if (!s->handled || w < 1 || h < 1 || w * h > kMaxPixels) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    const double scale = std::min({1.0, s->box / w, s->box / h});
    s->width = std::max(1, int(std::lround(w * scale)));
    s->height = std::max(1, int(std::lround(h * scale)));
    // The largest reduction in the decoder that still leaves at least the thumbnail's size.
    d.scale_num = 1;
    for (const unsigned denom : {8u, 4u, 2u, 1u}) {
        d.scale_denom = denom;
        jpeg_calc_output_dimensions(&d);
        if (int(d.output_width) >= s->width && int(d.output_height) >= s->height) break;
    }
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    const int inW = int(d.output_width), inH = int(d.output_height);
    if (d.output_components != 3 || inW < s->width || inH < s->height) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    const Taps across = MakeTaps(inW, s->width);
    s->row.resize(std::size_t(inW) * 3);
    s->rows.resize(std::size_t(inH) * s->width * 3);
    while (d.output_scanline < d.output_height) {
        JSAMPROW line = s->row.data();
        uint8_t* to = s->rows.data() + std::size_t(d.output_scanline) * s->width * 3;
        if (jpeg_read_scanlines(&d, &line, 1) != 1) break;
        for (int o = 0; o < s->width; ++o) {
            const int32_t* wt = across.weights.data() + across.at[std::size_t(o)];
            const uint8_t* from = s->row.data() + std::size_t(across.first[std::size_t(o)]) * 3;
            int32_t r = 0, g = 0, b = 0;
            for (int k = 0; k < across.count[std::size_t(o)]; ++k, from += 3) {
                r += wt[k] * from[0];
                g += wt[k] * from[1];
                b += wt[k] * from[2];
            }
            to[o * 3] = Clamp8(r);
            to[o * 3 + 1] = Clamp8(g);
            to[o * 3 + 2] = Clamp8(b);
        }
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);

    const Taps down = MakeTaps(inH, s->height);
    const std::size_t stride = std::size_t(s->width) * 3;
    s->thumb.resize(stride * s->height);
    for (int o = 0; o < s->height; ++o) {
        const int32_t* wt = down.weights.data() + down.at[std::size_t(o)];
        const uint8_t* from = s->rows.data() + std::size_t(down.first[std::size_t(o)]) * stride;
        for (std::size_t x = 0; x < stride; ++x) {
            int32_t v = 0;
            for (int k = 0; k < down.count[std::size_t(o)]; ++k) v += wt[k] * from[std::size_t(k) * stride + x];
            s->thumb[std::size_t(o) * stride + x] = Clamp8(v);
        }
    }
    return true;
}

// The thumbnail turned upright: Exif orientations 5..8 swap width and height.
std::vector<uint8_t> Upright(std::vector<uint8_t> in, int w, int h, int orientation, int& outW, int& outH) {
    if (orientation == 1) {
        outW = w;
        outH = h;
        return in;
    }
    const bool swap = orientation >= 5;
    outW = swap ? h : w;
    outH = swap ? w : h;
    std::vector<uint8_t> out(in.size());
    for (int y = 0; y < outH; ++y)
        for (int x = 0; x < outW; ++x) {
            int sx = x, sy = y;
            switch (orientation) {
                case 2: sx = w - 1 - x; break;
                case 3: sx = w - 1 - x, sy = h - 1 - y; break;
                case 4: sy = h - 1 - y; break;
                case 5: sx = y, sy = x; break;
                case 6: sx = y, sy = h - 1 - x; break;
                case 7: sx = w - 1 - y, sy = h - 1 - x; break;
                case 8: sx = w - 1 - y, sy = x; break;
                default: break;
            }
            std::memcpy(&out[(std::size_t(y) * outW + x) * 3], &in[(std::size_t(sy) * w + sx) * 3], 3);
        }
    return out;
}

struct Encoding {
    JumpingError error{};
    jpeg_compress_struct c{};
    const std::vector<uint8_t>* pixels = nullptr;
    int width = 0, height = 0;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
};

bool Encode(Encoding* s) {
    jpeg_compress_struct& c = s->c;
    c.err = &s->error.mgr;
    SetUpErrors(s->error);
    if (setjmp(s->error.jump)) {
        jpeg_destroy_compress(&c);
        return false;
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &s->buffer, &s->size);
    c.image_width = JDIMENSION(s->width);
    c.image_height = JDIMENSION(s->height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, kQuality, TRUE);
    c.optimize_coding = TRUE;
    jpeg_start_compress(&c, TRUE);
    const std::size_t stride = std::size_t(s->width) * 3;
    while (c.next_scanline < c.image_height) {
        JSAMPROW line = const_cast<uint8_t*>(s->pixels->data()) + c.next_scanline * stride;
        jpeg_write_scanlines(&c, &line, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return true;
}

}  // namespace

JpegThumbResult MakeJpegThumbnail(const std::filesystem::path& picture, int box, std::string& out) {
    out.clear();
    const int fd = ::open(picture.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return JpegThumbResult::Undecodable;
    Decoding dec;
    dec.file = ::fdopen(fd, "rb");
    if (!dec.file) {
        ::close(fd);
        return JpegThumbResult::Undecodable;
    }
    dec.box = std::max(1, box);
    const bool decoded = Decode(&dec);
    std::fclose(dec.file);
    if (!dec.handled) return JpegThumbResult::NotHandled;
    if (!decoded) return JpegThumbResult::Undecodable;

    Encoding enc;
    const std::vector<uint8_t> upright = Upright(std::move(dec.thumb), dec.width, dec.height, dec.orientation, enc.width, enc.height);
    enc.pixels = &upright;
    const bool encoded = Encode(&enc);
    if (encoded && enc.buffer) out.assign(reinterpret_cast<const char*>(enc.buffer), enc.size);
    std::free(enc.buffer);
    return encoded && !out.empty() ? JpegThumbResult::Made : JpegThumbResult::Undecodable;
}

}  // namespace qm::gallery

// Deterministic picture files: real JPEG, PNG, GIF and BMP files of a small solid-coloured image whose
// colour is derived from the picture id, padded to the exact size asked for with seeded bytes inside
// comment/ancillary blocks, so every viewer decodes them and tests can compare files byte for byte.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "sim/Simulator.h"

namespace qm::sim {
namespace {

uint64_t Fnv1a(const std::string& text) {
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return h;
}

struct SplitMix {
    uint64_t state;
    uint64_t Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
};

void FillSeeded(std::string& out, size_t count, SplitMix& rng) {
    while (count > 0) {
        uint64_t r = rng.Next();
        for (int k = 0; k < 8 && count > 0; ++k, --count) {
            out += static_cast<char>(r & 0xFF);
            r >>= 8;
        }
    }
}

void Put16be(std::string& out, unsigned v) {
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
}
void Put32be(std::string& out, uint32_t v) {
    Put16be(out, v >> 16);
    Put16be(out, v & 0xFFFF);
}
void Put16le(std::string& out, unsigned v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32le(std::string& out, uint32_t v) {
    Put16le(out, v & 0xFFFF);
    Put16le(out, v >> 16);
}

struct Rgb {
    int r, g, b;
};

// ---- JPEG: an 8x8 baseline image, one block per component, DC only ----

class BitWriter {
public:
    void Put(uint32_t bits, int count) {
        for (int k = count - 1; k >= 0; --k) {
            acc_ = (acc_ << 1) | ((bits >> k) & 1);
            if (++n_ == 8) Flush();
        }
    }
    std::string Finish() {
        while (n_ != 0) Put(1, 1);  // pad with one bits
        return out_;
    }

private:
    void Flush() {
        out_ += static_cast<char>(acc_);
        if (acc_ == 0xFF) out_ += '\0';  // byte stuffing
        acc_ = 0;
        n_ = 0;
    }
    std::string out_;
    uint32_t acc_ = 0;
    int n_ = 0;
};

int Category(int v) {
    int a = v < 0 ? -v : v, c = 0;
    while (a > 0) {
        ++c;
        a >>= 1;
    }
    return c;
}

std::string JpegBody(int y, int cb, int cr) {
    std::string s;
    // DQT: table 0, all 8
    s += "\xFF\xDB";
    Put16be(s, 67);
    s += '\0';
    s += std::string(64, '\x08');
    // SOF0: 8 bits, 8x8, three components, no subsampling, all quant table 0
    s += "\xFF\xC0";
    Put16be(s, 17);
    s += '\x08';
    Put16be(s, 8);
    Put16be(s, 8);
    s += '\x03';
    for (int id = 1; id <= 3; ++id) {
        s += static_cast<char>(id);
        s += '\x11';
        s += '\0';
    }
    // DHT DC table 0: categories 0..8, all with 4-bit codes 0000..1000
    s += "\xFF\xC4";
    Put16be(s, 2 + 1 + 16 + 9);
    s += '\x00';
    for (int len = 1; len <= 16; ++len) s += static_cast<char>(len == 4 ? 9 : 0);
    for (int cat = 0; cat <= 8; ++cat) s += static_cast<char>(cat);
    // DHT AC table 0: end-of-block alone, code "0"
    s += "\xFF\xC4";
    Put16be(s, 2 + 1 + 16 + 1);
    s += '\x10';
    for (int len = 1; len <= 16; ++len) s += static_cast<char>(len == 1 ? 1 : 0);
    s += '\0';
    // SOS
    s += "\xFF\xDA";
    Put16be(s, 12);
    s += '\x03';
    for (int id = 1; id <= 3; ++id) {
        s += static_cast<char>(id);
        s += '\0';
    }
    s += '\0';
    s += '\x3F';
    s += '\0';
    BitWriter bits;
    for (int v : {y, cb, cr}) {
        const int diff = v - 128;
        const int cat = Category(diff);
        bits.Put(static_cast<uint32_t>(cat), 4);
        if (cat > 0) {
            const int amp = diff >= 0 ? diff : diff + (1 << cat) - 1;
            bits.Put(static_cast<uint32_t>(amp), cat);
        }
        bits.Put(0, 1);  // end of block
    }
    s += bits.Finish();
    s += "\xFF\xD9";
    return s;
}

std::string MakeJpeg(Rgb c, size_t size, SplitMix& rng) {
    // Colour to YCbCr; with a quantiser of 8 the quantised DC coefficient equals the level-shifted value.
    const int y = std::clamp(static_cast<int>(0.299 * c.r + 0.587 * c.g + 0.114 * c.b), 0, 255);
    const int cb = std::clamp(static_cast<int>(128 - 0.168736 * c.r - 0.331264 * c.g + 0.5 * c.b), 0, 255);
    const int cr = std::clamp(static_cast<int>(128 + 0.5 * c.r - 0.418688 * c.g - 0.081312 * c.b), 0, 255);
    const std::string body = JpegBody(y, cb, cr);
    const size_t app0Size = 18;
    size_t need = size > 2 + app0Size + body.size() ? size - 2 - app0Size - body.size() : 0;
    // Fewer than 4 spare bytes cannot form a segment of their own; the JFIF segment absorbs them
    // (decoders skip an APP0 segment by its length).
    const size_t app0Extra = need < 4 ? need : 0;
    need -= app0Extra;
    std::string out = "\xFF\xD8\xFF\xE0";
    Put16be(out, static_cast<unsigned>(16 + app0Extra));
    out += std::string("JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 14);
    FillSeeded(out, app0Extra, rng);
    // Comment segments carry the padding: marker, length, up to 65533 bytes each.
    while (need >= 4) {
        size_t seg = std::min<size_t>(need, 65537);
        if (need - seg > 0 && need - seg < 4) seg -= 4;
        out += "\xFF\xFE";
        Put16be(out, static_cast<unsigned>(seg - 2));
        FillSeeded(out, seg - 4, rng);
        need -= seg;
    }
    return out + body;
}

// ---- PNG: a 4x4 RGB image, padding in a private ancillary chunk ----

void PngChunk(std::string& out, const char* type, const std::string& data) {
    Put32be(out, static_cast<uint32_t>(data.size()));
    std::string td = std::string(type, 4) + data;
    out += td;
    Put32be(out, static_cast<uint32_t>(
                     crc32(0, reinterpret_cast<const Bytef*>(td.data()), static_cast<uInt>(td.size()))));
}

std::string MakePng(Rgb c, size_t size, SplitMix& rng) {
    const int w = 4, h = 4;
    std::string ihdr;
    Put32be(ihdr, w);
    Put32be(ihdr, h);
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);
    std::string raw;
    for (int row = 0; row < h; ++row) {
        raw += '\0';
        for (int col = 0; col < w; ++col) {
            raw += static_cast<char>(c.r);
            raw += static_cast<char>(c.g);
            raw += static_cast<char>(c.b);
        }
    }
    uLongf zlen = compressBound(static_cast<uLong>(raw.size()));
    std::string z(zlen, '\0');
    compress2(reinterpret_cast<Bytef*>(z.data()), &zlen, reinterpret_cast<const Bytef*>(raw.data()),
              static_cast<uLong>(raw.size()), 9);
    z.resize(zlen);
    std::string out = "\x89PNG\r\n\x1a\n";
    PngChunk(out, "IHDR", ihdr);
    std::string tail;
    PngChunk(tail, "IDAT", z);
    PngChunk(tail, "IEND", "");
    const size_t fixed = out.size() + tail.size();
    if (size >= fixed + 12) {
        std::string pad;
        FillSeeded(pad, size - fixed - 12, rng);
        PngChunk(out, "qmPd", pad);
    }
    return out + tail;
}

// ---- GIF: a 1x1 image, padding in comment extensions ----

std::string MakeGif(Rgb c, size_t size, SplitMix& rng) {
    std::string out = "GIF89a";
    Put16le(out, 1);
    Put16le(out, 1);
    out += '\x80';  // global colour table of 2 entries
    out += '\0';
    out += '\0';
    out += static_cast<char>(c.r);
    out += static_cast<char>(c.g);
    out += static_cast<char>(c.b);
    out += std::string(3, '\xFF');
    const std::string image = std::string("\x2C\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0\x3B", 16);
    size_t fixed = out.size() + image.size();
    if (size >= fixed + 4) {
        // One comment extension: 0x21 0xFE, sub-blocks of up to 255 bytes, terminator.
        size_t room = size - fixed - 3;  // introducer, label, terminator
        std::string ext = "\x21\xFE";
        while (room > 0) {
            size_t block = std::min<size_t>(room - 1, 255);
            if (room - 1 - block == 1) --block;  // never leave exactly one byte (a bare length byte)
            if (block == 0) break;
            ext += static_cast<char>(block);
            FillSeeded(ext, block, rng);
            room -= block + 1;
        }
        ext += '\0';
        out += ext;
    }
    return out + image;
}

// ---- BMP: a 24-bit image whose height grows with the size; the rest in the trailing gap ----

std::string MakeBmp(Rgb c, size_t size, SplitMix& rng) {
    const int w = 4;
    const int rowBytes = 12;  // 4 pixels x 3 bytes, already a multiple of 4
    int h = 4;
    std::string out = "BM";
    const uint32_t pixels = static_cast<uint32_t>(rowBytes * h);
    const uint32_t total = static_cast<uint32_t>(std::max<size_t>(size, 54 + pixels));
    Put32le(out, total);
    Put32le(out, 0);
    Put32le(out, 54);
    Put32le(out, 40);
    Put32le(out, w);
    Put32le(out, static_cast<uint32_t>(h));
    Put16le(out, 1);
    Put16le(out, 24);
    Put32le(out, 0);
    Put32le(out, pixels);
    Put32le(out, 2835);
    Put32le(out, 2835);
    Put32le(out, 0);
    Put32le(out, 0);
    for (int i = 0; i < w * h; ++i) {
        out += static_cast<char>(c.b);
        out += static_cast<char>(c.g);
        out += static_cast<char>(c.r);
    }
    if (out.size() < total) FillSeeded(out, total - out.size(), rng);
    return out;
}

}  // namespace

std::string MakePictureBytes(const std::string& id, size_t size, const std::string& format) {
    SplitMix rng{Fnv1a(id + "|" + format)};
    const uint64_t colour = rng.Next();
    Rgb c{static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
          static_cast<int>((colour >> 16) & 0xFF)};
    if (format == "png") return MakePng(c, size, rng);
    if (format == "gif") return MakeGif(c, size, rng);
    if (format == "bmp") return MakeBmp(c, size, rng);
    return MakeJpeg(c, size, rng);
}

}  // namespace qm::sim

// The JPEG thumbnailer: pictures turned upright by their Exif orientation, CMYK pictures left to the
// general thumbnailer (and still made by it), and a header claiming billions of pixels refused.
#include "gallery/JpegThumbnail.h"

#include <gtest/gtest.h>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "FileText.h"
#include "TempFolder.h"
#include "gallery/Thumbnails.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

// A w x h JPEG whose left half is red and right half blue (or CMYK of the same), with an optional
// APP1 marker.
std::string Encode(int w, int h, bool cmyk, const std::string& app1 = {}) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buf = nullptr;
    unsigned long len = 0;
    jpeg_mem_dest(&c, &buf, &len);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = cmyk ? 4 : 3;
    c.in_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    if (!app1.empty())
        jpeg_write_marker(&c, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(app1.data()), unsigned(app1.size()));
    std::vector<unsigned char> row(std::size_t(w) * c.input_components);
    for (int x = 0; x < w; ++x) {
        unsigned char* p = &row[std::size_t(x) * c.input_components];
        const bool left = x < w / 2;
        if (cmyk) {
            p[0] = 0, p[1] = left ? 255 : 0, p[2] = left ? 255 : 0, p[3] = 0;
        } else {
            p[0] = left ? 255 : 0, p[1] = 0, p[2] = left ? 0 : 255;
        }
    }
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::string out(reinterpret_cast<char*>(buf), len);
    std::free(buf);
    return out;
}

// An Exif block (big-endian) holding only the orientation tag.
std::string ExifOrientation(int value) {
    return std::string("Exif\0\0MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0", 25) + char(value) +
           std::string("\0\0\0\0\0\0", 6);
}

struct Decoded {
    int w = 0, h = 0;
    std::vector<unsigned char> rgb;
    const unsigned char* At(int x, int y) const { return &rgb[(std::size_t(y) * w + x) * 3]; }
};

Decoded Decode(const std::string& jpeg) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    Decoded out{int(d.output_width), int(d.output_height), {}};
    out.rgb.resize(std::size_t(out.w) * out.h * 3);
    while (d.output_scanline < d.output_height) {
        JSAMPROW r = &out.rgb[std::size_t(d.output_scanline) * out.w * 3];
        jpeg_read_scanlines(&d, &r, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return out;
}

bool Reddish(const unsigned char* p) {
    return p[0] > 200 && p[2] < 60;
}
bool Bluish(const unsigned char* p) {
    return p[2] > 200 && p[0] < 60;
}

TEST(JpegThumbnail, TurnedUprightByItsOrientation) {
    test::TempFolder dir;
    // Orientation 6: the camera was turned clockwise; shown upright, the left half is on top.
    // Orientation 8 is the other way round: the left half ends at the bottom.
    for (const int orientation : {1, 6, 8, 3}) {
        const fs::path file = dir.path() / ("o" + std::to_string(orientation) + ".jpg");
        std::ofstream(file, std::ios::binary) << Encode(1600, 800, false, ExifOrientation(orientation));
        std::string thumb;
        ASSERT_EQ(gallery::MakeJpegThumbnail(file, 320, thumb), gallery::JpegThumbResult::Made) << orientation;
        const Decoded t = Decode(thumb);
        SCOPED_TRACE(orientation);
        if (orientation == 1 || orientation == 3) {
            ASSERT_EQ(std::make_pair(t.w, t.h), std::make_pair(320, 160));
            EXPECT_TRUE(Reddish(t.At(orientation == 1 ? 10 : 310, 80)));
            EXPECT_TRUE(Bluish(t.At(orientation == 1 ? 310 : 10, 80)));
        } else {
            ASSERT_EQ(std::make_pair(t.w, t.h), std::make_pair(160, 320));
            EXPECT_TRUE(Reddish(t.At(80, orientation == 6 ? 10 : 310)));
            EXPECT_TRUE(Bluish(t.At(80, orientation == 6 ? 310 : 10)));
        }
    }
}

TEST(JpegThumbnail, CmykGoesToTheGeneralThumbnailerAndGiantHeadersAreRefused) {
    test::TempFolder dir;
    std::ofstream(dir.path() / "cmyk.jpg", std::ios::binary) << Encode(640, 480, true);
    // A small picture whose frame header claims 60000 x 60000 pixels.
    std::string giant = Encode(64, 64, false);
    for (std::size_t i = 2; i + 9 < giant.size(); i += 2 + (std::size_t(uint8_t(giant[i + 2])) << 8 | uint8_t(giant[i + 3])))
        if (uint8_t(giant[i + 1]) == 0xC0) {
            giant[i + 5] = giant[i + 7] = char(0xEA);
            giant[i + 6] = giant[i + 8] = char(0x60);
            break;
        }
    std::ofstream(dir.path() / "giant.jpg", std::ios::binary) << giant;

    std::string thumb;
    EXPECT_EQ(gallery::MakeJpegThumbnail(dir.path() / "cmyk.jpg", 320, thumb), gallery::JpegThumbResult::NotHandled);
    EXPECT_EQ(gallery::MakeJpegThumbnail(dir.path() / "giant.jpg", 320, thumb), gallery::JpegThumbResult::Undecodable);

    std::vector<gallery::ThumbState> states;
    EXPECT_EQ(gallery::UpdateThumbnails(dir.path(), {"cmyk.jpg", "giant.jpg"}, &states, 1).made, 1u);
    EXPECT_EQ(states[0], gallery::ThumbState::Made);
    EXPECT_EQ(states[1], gallery::ThumbState::Failed);
    const Decoded t = Decode(test::FileText(dir.path() / gallery::kThumbFolder / gallery::ThumbName("cmyk.jpg")));
    EXPECT_EQ(std::make_pair(t.w, t.h), std::make_pair(320, 240));
}

}  // namespace
}  // namespace qm

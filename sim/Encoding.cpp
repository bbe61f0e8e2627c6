#include "sim/Encoding.h"

#include <unicode/ucnv.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

namespace qm::sim {

std::string Utf8ToGbk(const std::string& utf8) {
    // ASCII reads the same in GBK (most list answers are nothing else).
    if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return utf8;
    UErrorCode err = U_ZERO_ERROR;
    UConverter* gbk = ucnv_open("windows-936", &err);
    if (U_FAILURE(err) || gbk == nullptr) return utf8;
    err = U_ZERO_ERROR;
    UConverter* u8 = ucnv_open("UTF-8", &err);
    if (U_FAILURE(err) || u8 == nullptr) {
        ucnv_close(gbk);
        return utf8;
    }
    std::string out(utf8.size() * 2 + 16, '\0');
    char* target = out.data();
    const char* source = utf8.data();
    err = U_ZERO_ERROR;
    ucnv_convertEx(gbk, u8, &target, out.data() + out.size(), &source, utf8.data() + utf8.size(), nullptr,
                   nullptr, nullptr, nullptr, true, true, &err);
    ucnv_close(u8);
    ucnv_close(gbk);
    if (U_FAILURE(err)) return utf8;
    out.resize(static_cast<size_t>(target - out.data()));
    return out;
}

std::string GzipBytes(const std::string& data) {
    z_stream zs{};
    // The fastest level: the simulator stands in for servers whose compression time is not the
    // client's, and on a small machine it shares the processor with the client being measured.
    if (deflateInit2(&zs, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::string();
    std::string out(deflateBound(&zs, static_cast<uLong>(data.size())) + 32, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

std::string CorruptGzipBytes(const std::string& data) {
    std::string z = GzipBytes(data);
    // Keep the 10-byte header; spoil the deflate data and the trailer's checksum.
    for (size_t i = 10; i < z.size(); i += 3) z[i] = static_cast<char>(z[i] ^ 0x5A);
    if (z.size() <= 18) z += std::string("\xFF\xFF\xFF\xFF", 4);
    return z;
}

}  // namespace qm::sim

// Inflating gzip or zlib response bodies in bounded output steps.
#include <zlib.h>

#include <cstring>

#include "net/URLSource2.h"

namespace qm {

InflateEnd InflateGzipTo(std::string_view data, uint64_t limit,
                         const std::function<bool(std::string_view)>& sink, uint64_t& produced) {
    produced = 0;
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    // Window bits 15 + 32: zlib recognises a gzip or a zlib header by itself.
    if (inflateInit2(&zs, 47) != Z_OK) return InflateEnd::Damaged;
    unsigned char buffer[64 * 1024];
    InflateEnd end = InflateEnd::Damaged;
    size_t remaining = data.data() == nullptr ? 0 : data.size();
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    for (;;) {
        // zlib counts input in 32-bit units; feed very large bodies in slices.
        if (zs.avail_in == 0 && remaining > 0) {
            const size_t slice = remaining > (1u << 30) ? (1u << 30) : remaining;
            zs.avail_in = static_cast<uInt>(slice);
            remaining -= slice;
        }
        zs.next_out = buffer;
        zs.avail_out = sizeof buffer;
        const int rc = inflate(&zs, Z_NO_FLUSH);
        const size_t piece = sizeof buffer - zs.avail_out;
        if (piece > limit - produced) {
            end = InflateEnd::TooLarge;
            break;
        }
        if (piece > 0 && !sink(std::string_view(reinterpret_cast<const char*>(buffer), piece))) {
            end = InflateEnd::SinkFailed;
            break;
        }
        produced += piece;
        if (rc == Z_STREAM_END) {
            end = InflateEnd::Complete;
            break;
        }
        if (rc != Z_OK) break;  // damaged or truncated: what came out before the error was handed over
    }
    inflateEnd(&zs);
    return end;
}

bool InflateGzip(const char* data, size_t length, std::string& out) {
    uint64_t produced = 0;
    const auto end = InflateGzipTo(
        std::string_view(data, data == nullptr ? 0 : length), kMaxBodyInMemory,
        [&out](std::string_view piece) {
            out.append(piece);
            return true;
        },
        produced);
    return end == InflateEnd::Complete;
}

}  // namespace qm

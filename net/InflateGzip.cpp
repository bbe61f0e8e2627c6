// Inflating gzip or zlib response bodies in 8192-byte output steps.
#include <zlib.h>

#include <cstring>

#include "net/URLSource2.h"

namespace qm {

namespace {

// No text page comes near this; a stream that inflates beyond it is hostile (a "zip bomb") and is
// cut here rather than exhausting memory.
constexpr size_t kMaxInflatedBytes = size_t{256} << 20;

}  // namespace

bool InflateGzip(const char* data, size_t length, std::string& out) {
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    // Window bits 15 + 32: zlib recognises a gzip or a zlib header by itself.
    if (inflateInit2(&zs, 47) != Z_OK) return false;
    unsigned char buffer[8192];
    bool ok = false;
    size_t remaining = data == nullptr ? 0 : length;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
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
        const size_t produced = sizeof buffer - zs.avail_out;
        if (out.size() + produced > kMaxInflatedBytes) break;
        out.append(reinterpret_cast<const char*>(buffer), produced);
        if (rc == Z_STREAM_END) {
            ok = true;
            break;
        }
        if (rc != Z_OK) break;  // corrupt or truncated: keep what came out before the error
    }
    inflateEnd(&zs);
    return ok;
}

}  // namespace qm

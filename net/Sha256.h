// SHA-256 digests (OpenSSL's libcrypto) as lower-case hex text: of bytes, of files, and of a stream
// of pieces, so a file's digest can be taken while it is written instead of reading it back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace qm {

std::string Sha256Hex(std::string_view bytes);

// Digest and size of a regular file, read in pieces; false when it cannot be read (a symbolic
// link is not followed).
bool Sha256File(const std::filesystem::path& path, std::string& hex, uint64_t& size);

// A digest fed piece by piece.
class Sha256Stream {
public:
    Sha256Stream();
    ~Sha256Stream();
    Sha256Stream(const Sha256Stream&) = delete;
    Sha256Stream& operator=(const Sha256Stream&) = delete;

    void Add(std::string_view bytes);
    // The digest of everything added; empty when the library failed. Ends the stream.
    std::string FinishHex();

private:
    struct Ctx;
    std::unique_ptr<Ctx> ctx_;
    bool ok_ = false;
};

}  // namespace qm

// SHA-256 digests of bytes and of files (OpenSSL's libcrypto), as lower-case hex text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace qm {

std::string Sha256Hex(std::string_view bytes);

// Digest and size of a regular file, read in pieces; false when it cannot be read (a symbolic
// link is not followed).
bool Sha256File(const std::filesystem::path& path, std::string& hex, uint64_t& size);

}  // namespace qm

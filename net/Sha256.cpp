#include "net/Sha256.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>

namespace qm {

namespace {

std::string Hex(const unsigned char* digest, unsigned length) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (unsigned i = 0; i < length; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 0x0F];
    }
    return out;
}

}  // namespace

struct Sha256Stream::Ctx {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ~Ctx() { EVP_MD_CTX_free(md); }
};

Sha256Stream::Sha256Stream() : ctx_(std::make_unique<Ctx>()) {
    ok_ = ctx_->md && EVP_DigestInit_ex(ctx_->md, EVP_sha256(), nullptr);
}

Sha256Stream::~Sha256Stream() = default;

void Sha256Stream::Add(std::string_view bytes) {
    if (ok_ && !bytes.empty()) ok_ = EVP_DigestUpdate(ctx_->md, bytes.data(), bytes.size());
}

std::string Sha256Stream::FinishHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    const bool ok = ok_ && EVP_DigestFinal_ex(ctx_->md, digest, &length);
    ok_ = false;
    return ok ? Hex(digest, length) : std::string();
}

std::string Sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr)) return {};
    return Hex(digest, length);
}

bool Sha256File(const std::filesystem::path& path, std::string& hex, uint64_t& size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    Sha256Stream digest;
    bool ok = true;
    uint64_t total = 0;
    char buf[64 * 1024];
    while (ok) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        total += static_cast<uint64_t>(n);
        digest.Add(std::string_view(buf, static_cast<std::size_t>(n)));
    }
    ::close(fd);
    if (!ok) return false;
    std::string h = digest.FinishHex();
    if (h.empty()) return false;
    hex = std::move(h);
    size = total;
    return true;
}

}  // namespace qm

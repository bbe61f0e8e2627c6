#include "core/SettingsBlock.h"

#include <cstring>

namespace qm {

namespace {

void PutU16(std::string& out, std::size_t at, uint16_t v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>(v >> 8);
}

uint16_t GetU16(std::string_view in, std::size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(in[at]) |
                                 (static_cast<unsigned char>(in[at + 1]) << 8));
}

template <std::size_t N>
void PutText(std::string& out, std::size_t at, const std::array<char16_t, N>& field) {
    for (std::size_t i = 0; i < N; ++i) PutU16(out, at + 2 * i, static_cast<uint16_t>(field[i]));
}

template <std::size_t N>
void GetText(std::string_view in, std::size_t at, std::array<char16_t, N>& field) {
    for (std::size_t i = 0; i < N; ++i) field[i] = static_cast<char16_t>(GetU16(in, at + 2 * i));
}

// The block's layout, walked once for writing and once for reading: `io` gets every field with its
// offset (little-endian 16-bit numbers, texts of 16-bit units, single bytes).
template <typename Block, typename Io>
void WalkLayout(Block& block, Io&& io) {
    for (int i = 0; i < kSiteSlots; ++i) {
        const std::size_t at = kDownParamOffset + i * kDownParamSize;
        auto& d = block.down[i];
        io.U16(at, d.MinSizeKB);
        io.U16(at + 2, d.MaxSizeKB);
        io.U16(at + 4, d.ThreadCount);
        io.U16(at + 6, d.TimeoutSec);
    }
    for (int i = 0; i < kSiteSlots; ++i) {
        const std::size_t at = kSiteProfileOffset + i * kSiteProfileSize;
        auto& p = block.profile[i];
        io.Text(at + 0, p.NamePrefix);
        io.Text(at + 80, p.NameSuffix);
        io.Text(at + 160, p.ReplaceFrom);
        io.Text(at + 240, p.ReplaceTo);
        io.Text(at + 320, p.FolderPrefix);
        io.Text(at + 400, p.FolderSuffix);
        io.U16(at + 480, p.SiteFlags);
        io.U8(at + 482, p.NameMode);
        io.U8(at + 483, p.FolderMode);
    }
    for (int i = 0; i < kRecentSlots; ++i) {
        io.Text(kRecentTargetsOffset + i * kRecentChars * 2, block.RecentTargets[i]);
        io.Text(kRecentSavePathsOffset + i * kRecentChars * 2, block.RecentSavePaths[i]);
    }
}

struct Writer {
    std::string& out;
    void U16(std::size_t at, uint16_t v) { PutU16(out, at, v); }
    void U8(std::size_t at, uint8_t v) { out[at] = static_cast<char>(v); }
    template <std::size_t N>
    void Text(std::size_t at, const std::array<char16_t, N>& field) {
        PutText(out, at, field);
    }
};

struct Reader {
    std::string_view in;
    void U16(std::size_t at, uint16_t& v) { v = GetU16(in, at); }
    void U8(std::size_t at, uint8_t& v) { v = static_cast<uint8_t>(in[at]); }
    template <std::size_t N>
    void Text(std::size_t at, std::array<char16_t, N>& field) {
        GetText(in, at, field);
    }
};

}  // namespace

std::string EncodeSettingsBlock(const SettingsBlock& block) {
    std::string out(kSettingsBlockSize, '\0');
    WalkLayout(block, Writer{out});
    return out;
}

SettingsBlock DecodeSettingsBlock(std::string_view bytes) {
    // Missing bytes read as zero: a short file leaves the rest of the block empty.
    std::string full(kSettingsBlockSize, '\0');
    if (!bytes.empty())  // an empty view may hold no buffer at all
        std::memcpy(full.data(), bytes.data(), bytes.size() < full.size() ? bytes.size() : full.size());
    SettingsBlock block;
    WalkLayout(block, Reader{full});
    return block;
}

}  // namespace qm

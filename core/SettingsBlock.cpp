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

}  // namespace

std::string EncodeSettingsBlock(const SettingsBlock& block) {
    std::string out(kSettingsBlockSize, '\0');
    for (int i = 0; i < kSiteSlots; ++i) {
        const std::size_t at = kDownParamOffset + i * kDownParamSize;
        const DownParam& d = block.down[i];
        PutU16(out, at, d.MinSizeKB);
        PutU16(out, at + 2, d.MaxSizeKB);
        PutU16(out, at + 4, d.ThreadCount);
        PutU16(out, at + 6, d.TimeoutSec);
    }
    for (int i = 0; i < kSiteSlots; ++i) {
        const std::size_t at = kSiteProfileOffset + i * kSiteProfileSize;
        const SiteProfile& p = block.profile[i];
        PutText(out, at + 0, p.NamePrefix);
        PutText(out, at + 80, p.NameSuffix);
        PutText(out, at + 160, p.ReplaceFrom);
        PutText(out, at + 240, p.ReplaceTo);
        PutText(out, at + 320, p.FolderPrefix);
        PutText(out, at + 400, p.FolderSuffix);
        PutU16(out, at + 480, p.SiteFlags);
        out[at + 482] = static_cast<char>(p.NameMode);
        out[at + 483] = static_cast<char>(p.FolderMode);
    }
    for (int i = 0; i < kRecentSlots; ++i) {
        PutText(out, kRecentTargetsOffset + i * kRecentChars * 2, block.RecentTargets[i]);
        PutText(out, kRecentSavePathsOffset + i * kRecentChars * 2, block.RecentSavePaths[i]);
    }
    return out;
}

SettingsBlock DecodeSettingsBlock(std::string_view bytes) {
    // Missing bytes read as zero: a short file leaves the rest of the block empty.
    std::string full(kSettingsBlockSize, '\0');
    if (!bytes.empty())  // an empty view may hold no buffer at all
        std::memcpy(full.data(), bytes.data(), bytes.size() < full.size() ? bytes.size() : full.size());
    const std::string_view in(full);
    SettingsBlock block;
    for (int i = 0; i < kSiteSlots; ++i) {
        const std::size_t at = kDownParamOffset + i * kDownParamSize;
        DownParam& d = block.down[i];
        d.MinSizeKB = GetU16(in, at);
        d.MaxSizeKB = GetU16(in, at + 2);
        d.ThreadCount = GetU16(in, at + 4);
        d.TimeoutSec = GetU16(in, at + 6);
    }
    for (int i = 0; i < kSiteSlots; ++i) {
        const std::size_t at = kSiteProfileOffset + i * kSiteProfileSize;
        SiteProfile& p = block.profile[i];
        GetText(in, at + 0, p.NamePrefix);
        GetText(in, at + 80, p.NameSuffix);
        GetText(in, at + 160, p.ReplaceFrom);
        GetText(in, at + 240, p.ReplaceTo);
        GetText(in, at + 320, p.FolderPrefix);
        GetText(in, at + 400, p.FolderSuffix);
        p.SiteFlags = GetU16(in, at + 480);
        p.NameMode = static_cast<uint8_t>(in[at + 482]);
        p.FolderMode = static_cast<uint8_t>(in[at + 483]);
    }
    for (int i = 0; i < kRecentSlots; ++i) {
        GetText(in, kRecentTargetsOffset + i * kRecentChars * 2, block.RecentTargets[i]);
        GetText(in, kRecentSavePathsOffset + i * kRecentChars * 2, block.RecentSavePaths[i]);
    }
    return block;
}

}  // namespace qm

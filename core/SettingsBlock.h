// The settings block: the 19808-byte content of soft.dat (download parameters and naming rules per
// site, recent targets and save folders). Read and written field by field, little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/StringCtrl.h"

namespace qm {

inline constexpr int kSiteSlots = 24;
inline constexpr int kRecentSlots = 5;
inline constexpr int kRecentChars = 400;
inline constexpr int kProfileTextChars = 40;
inline constexpr std::size_t kSettingsBlockSize = 19808;

// Option bits of SiteProfile::SiteFlags, used as SiteFlag::FixFormat etc.
namespace SiteFlag {
enum : uint16_t {
    FixFormat = 0x0001,
    FixOrder = 0x0002,
    TitleListFile = 0x0004,
    ListOnly = 0x0008,
    OpenFolderWhenDone = 0x0010,
    MainPicturesOnly = 0x0020,
    SkipDownloaded = 0x0040,
    LargePictures = 0x0080,
    DescriptionPicturesOnly = 0x0100,
    // Set: no offline gallery is written after a download (the default writes one).
    NoGalleryAfterDownload = 0x4000,
};
}  // namespace SiteFlag

struct DownParam {
    uint16_t MinSizeKB = 0;
    uint16_t MaxSizeKB = 0;
    uint16_t ThreadCount = 0;
    uint16_t TimeoutSec = 0;
};

using ProfileText = std::array<char16_t, kProfileTextChars>;

struct SiteProfile {
    ProfileText NamePrefix{};
    ProfileText NameSuffix{};
    ProfileText ReplaceFrom{};
    ProfileText ReplaceTo{};
    ProfileText FolderPrefix{};
    ProfileText FolderSuffix{};
    uint16_t SiteFlags = 0;
    uint8_t NameMode = 0;
    uint8_t FolderMode = 0;
};

using RecentText = std::array<char16_t, kRecentChars>;

struct SettingsBlock {
    std::array<DownParam, kSiteSlots> down{};
    std::array<SiteProfile, kSiteSlots> profile{};
    std::array<RecentText, kRecentSlots> RecentTargets{};
    std::array<RecentText, kRecentSlots> RecentSavePaths{};
};

// File offsets of the block's parts.
inline constexpr std::size_t kDownParamOffset = 0;
inline constexpr std::size_t kDownParamSize = 8;
inline constexpr std::size_t kSiteProfileOffset = 192;
inline constexpr std::size_t kSiteProfileSize = 484;
inline constexpr std::size_t kRecentTargetsOffset = 11808;
inline constexpr std::size_t kRecentSavePathsOffset = 15808;
static_assert(kSiteProfileOffset == kSiteSlots * kDownParamSize);
static_assert(kRecentTargetsOffset == kSiteProfileOffset + kSiteSlots * kSiteProfileSize);
static_assert(kRecentSavePathsOffset == kRecentTargetsOffset + kRecentSlots * kRecentChars * 2);
static_assert(kSettingsBlockSize == kRecentSavePathsOffset + kRecentSlots * kRecentChars * 2);

// Serialises to exactly kSettingsBlockSize bytes; parses any byte string (short input leaves zeros).
std::string EncodeSettingsBlock(const SettingsBlock& block);
SettingsBlock DecodeSettingsBlock(std::string_view bytes);

// A zero-terminated fixed field as text (up to the terminator), and back (cut to fit, terminated).
template <std::size_t N>
Text FieldText(const std::array<char16_t, N>& field) {
    std::size_t n = 0;
    while (n < N && field[n] != 0) ++n;
    return Text(field.data(), n);
}
template <std::size_t N>
void SetFieldText(std::array<char16_t, N>& field, TextView text) {
    field.fill(0);
    const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
    for (std::size_t i = 0; i < n; ++i) field[i] = text[i];
}

}  // namespace qm

// The fuzz targets that need no network: text utilities, body-text decoding, the INI reader, the
// settings file and file-name cleaning. Each takes one raw input, drives the code with it and checks
// the promises the code makes whatever it is given. Built into libFuzzer harnesses (fuzz/) and
// replayed over the saved inputs by ordinary tests.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/CIni.h"
#include "core/CleanFileName.h"
#include "core/Settings.h"
#include "core/SettingsBlock.h"
#include "download/SafeName.h"
#include "fuzz/FuzzInput.h"
#include "net/FileUtil.h"
#include "net/BodyText.h"
#include "net/StringCtrl.h"
#include "net/URLSource2.h"

namespace qm::fuzz {

inline bool HasLoneSurrogate(TextView t) {
    for (std::size_t i = 0; i < t.size(); ++i) {
        const char16_t c = t[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < t.size() && t[i + 1] >= 0xDC00 && t[i + 1] <= 0xDFFF) {
                ++i;
                continue;
            }
            return true;
        }
        if (c >= 0xDC00 && c <= 0xDFFF) return true;
    }
    return false;
}

// A folder of this process for targets that must read or write real files.
inline const std::filesystem::path& ScratchFolder() {
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("qm-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

// Cutting, splitting, replacing and decoding over any text and any markers.
inline void FuzzTextUtils(const uint8_t* data, std::size_t size) {
    const Input in(data, size);
    const Text text = in.TextPart(0), a = in.TextPart(1), b = in.TextPart(2);
    const unsigned flags = in.selector & 0x03;

    // Cutting with the consume flag walks forward only and never beyond the text.
    TextView view = text;
    for (int i = 0; i < 64 && !view.empty(); ++i) {
        const std::size_t before = view.size();
        const Text cut = CutBetween(view, a, b, flags | CUT_CONSUME);
        QM_FUZZ_CHECK(view.size() <= before);
        QM_FUZZ_CHECK(cut.size() <= before);
        if (view.size() == before) break;
    }
    Text owned = text;
    const Text cut = CutBetween(owned, a, b, flags);
    QM_FUZZ_CHECK(cut.size() <= text.size());
    QM_FUZZ_CHECK(owned.size() <= text.size());

    std::vector<Text> pieces;
    const int n = SplitByMarker(text, a, pieces);
    QM_FUZZ_CHECK(n >= 0);
    QM_FUZZ_CHECK(n == 0 || static_cast<std::size_t>(n) + 1 == pieces.size());
    QM_FUZZ_CHECK(n == 0 || n == CountOccurrences(text, a));

    Text t = text;
    DeleteThrough(t, a, (in.selector & 0x04) != 0);
    t = text;
    KeepBefore(t, a);
    t = text;
    ReplacePairs(t, a, b);
    t = text;
    ReplaceAll(t, a, b);
    (void)StripTags(text);
    t = text;
    DecodeHtmlEntities(t);
    (void)DecodeUnicodeEscapes(text);
    const Text trimmed = Trim(text);
    QM_FUZZ_CHECK(trimmed.size() <= text.size());

    // Conversions: every byte string in every code page; UTF-8 round trip of sound text.
    const std::string& raw = in.Bytes(0);
    for (unsigned cp : {CP_GBK, CP_BIG5, CP_UTF8}) (void)MultiByteToText(raw, cp);
    (void)AnsiToText(raw);
    (void)IsUtf8Text(raw);
    (void)TextToGbk(text);
    const std::string utf8 = ToUtf8(text);
    if (!HasLoneSurrogate(text)) QM_FUZZ_CHECK(FromUtf8(utf8) == text);
    (void)FromUtf8(raw);
    if (!HasLoneSurrogate(text) && text.find(u'\0') == Text::npos)
        QM_FUZZ_CHECK(DecipherText(EncipherText(text)) == text);
    (void)DecipherText(raw);
}

// Response bodies: any header block, any body (gzip or not), any flags, any status.
inline void FuzzBodyText(const uint8_t* data, std::size_t size) {
    const Input in(data, size);
    ST_URLRESPONSE resp;
    resp.headers = in.TextPart(0);
    resp.body = in.Bytes(1);
    resp.gzip = (in.selector & 0x40) != 0;
    resp.status = in.selector & 0x20 ? 500 : 200;
    (void)GetBodyText(resp, in.selector & 0x1F);
    std::string out;
    (void)InflateGzip(resp.body.data(), resp.body.size(), out);
}

// The INI reader over any file: decoding by byte-order mark, then lookups of fuzzed names.
inline void FuzzIni(const uint8_t* data, std::size_t size) {
    const Input in(data, size);
    const std::string& file = in.Bytes(0);
    (void)CIni::DecodeFile(file);
    const auto path = ScratchFolder() / "fuzz.ini";
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(file.data(), static_cast<std::streamsize>(file.size()));
    }
    const CIni ini(TextFromPath(path));
    const Text section = in.TextPart(1), key = in.TextPart(2);
    (void)ini.GetString(section, key, u"def");
    (void)ini.GetInt(section, key, 7);
    (void)ini.GetString(u"QQ说说", u"下载方式", u"");
    (void)ini.GetInt(u"QQ说说", u"下载方式", 0);
}

// soft.dat of any content: loading repairs it, saving writes a whole block, and loading the saved
// block gives the same settings again.
inline void FuzzSettings(const uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const SettingsBlock decoded = DecodeSettingsBlock(bytes);
    const std::string encoded = EncodeSettingsBlock(decoded);
    QM_FUZZ_CHECK(encoded.size() == kSettingsBlockSize);
    QM_FUZZ_CHECK(EncodeSettingsBlock(DecodeSettingsBlock(encoded)) == encoded);

    const auto folder = ScratchFolder() / "settings";
    std::filesystem::create_directories(folder);
    const auto file = folder / "soft.dat";
    {
        std::ofstream f(file, std::ios::binary | std::ios::trunc);
        f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    SettingsStore st;
    st.programFolder = TextFromPath(folder) + u"/";
    LoadSettings(st);
    std::string saved;
    QM_FUZZ_CHECK(ReadWholeFile(file, saved));
    QM_FUZZ_CHECK(saved.size() == kSettingsBlockSize);
    for (const auto& d : st.settings.down) {
        QM_FUZZ_CHECK(d.ThreadCount >= 1 && d.ThreadCount <= 15);
        QM_FUZZ_CHECK(d.TimeoutSec >= 10);
    }
    SettingsStore again;
    again.programFolder = st.programFolder;
    LoadSettings(again);
    QM_FUZZ_CHECK(EncodeSettingsBlock(again.settings) == EncodeSettingsBlock(st.settings));
    for (int list = 0; list < 2; ++list) (void)RecentEntries(st, list);
    (void)AddRecent(st, size % 2, FromUtf8(bytes.substr(0, 500)));
}

// A cleaned name is one harmless path component that Windows accepts too: no separators, wildcards
// or control characters, no trailing dot or blank, no device name; fitted names keep the byte limit.
inline void FuzzNames(const uint8_t* data, std::size_t size) {
    const Input in(data, size);
    Text name = in.TextPart(0);
    CleanFileName(name, (in.selector & 1) != 0, in.selector & 0x02 ? kTimeStampFallback : in.selector);
    for (char16_t c : name) {
        QM_FUZZ_CHECK(c >= 0x20 && c != 0x7F);
        QM_FUZZ_CHECK(Text(u"\\/:*?\"<>|").find(c) == Text::npos);
    }
    if (!name.empty()) {
        QM_FUZZ_CHECK(name.back() != u'.' && name.back() != u' ');
        QM_FUZZ_CHECK(name != u"." && name != u"..");
        Text up;
        for (char16_t c : name.substr(0, name.find(u'.'))) up += (c >= u'a' && c <= u'z') ? c - 32 : c;
        for (const char16_t* dev : {u"CON", u"PRN", u"AUX", u"NUL", u"COM1", u"LPT9"}) QM_FUZZ_CHECK(up != dev);
    }
    const Text fitted = FitFileName(name);
    QM_FUZZ_CHECK(Utf8Length(fitted) <= kMaxFileNameBytes);
    const std::size_t limit = in.Bytes(1).size();
    const Text cut = CutToUtf8Bytes(in.TextPart(0), limit);
    QM_FUZZ_CHECK(Utf8Length(cut) <= limit);
    const Text units = CutToUnits(in.TextPart(0), limit);
    QM_FUZZ_CHECK(units.size() <= limit);
    if (!name.empty() && IsSafeComponent(name)) {
        const auto folder = std::filesystem::path("/save/album");
        QM_FUZZ_CHECK(IsInsideFolder(folder, folder / PathFromText(name)));
    }
}

}  // namespace qm::fuzz

#include "core/ExtSettings.h"

#include <system_error>
#include <vector>

#include "core/CIni.h"
#include "net/FileUtil.h"

namespace qm {

namespace {

bool StartsWith(TextView text, TextView prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Body-text conversion code of an encoding name; the names match at the very start only, and
// case-sensitively ("utf8" is not "UTF8").
uint8_t CharsetCode(TextView value) {
    if (StartsWith(value, u"UTF8")) return 2;
    if (StartsWith(value, u"ANSI")) return 0;
    if (StartsWith(value, u"AUTO")) return 16;
    if (StartsWith(value, u"BIG5")) return 8;
    return 0;
}

}  // namespace

ExtSettings ReadExtSettings(const Text& programFolder) {
    ExtSettings s;  // the defaults
    const Text path = programFolder + kExtSettingsFileName;
    std::error_code ec;
    if (!std::filesystem::exists(PathFromText(path), ec)) return s;

    const CIni ini(path);
    s.V2Charset = CharsetCode(ini.GetString(u"QQ空间", u"V2编码", u"ANSI"));
    s.V3Charset = CharsetCode(ini.GetString(u"QQ空间", u"V3编码", u"ANSI"));
    s.OriginalNameMode = static_cast<uint8_t>(ini.GetInt(u"QQ空间", u"取原始名方式", 1));
    s.MoodDownloadMode = static_cast<uint8_t>(ini.GetInt(u"QQ说说", u"下载方式", 0));
    s.PriceInName = StartsWith(ini.GetString(u"淘宝", u"图片名中是否有价格", u"无"), u"有") ? 1 : 0;
    s.PriceDelta = static_cast<int32_t>(ini.GetInt(u"淘宝", u"价格增减", 0));
    s.InstagramMode = static_cast<uint8_t>(ini.GetInt(u"Instagram", u"图片获取方式", 1));
    s.JdMode = static_cast<uint8_t>(ini.GetInt(u"京东", u"图片获取方式", 1));
    s.FilmMaxMB = static_cast<uint32_t>(ini.GetInt(u"QQ空间", u"视频大小上限MB", 0));
    s.KeepShootTime = ini.GetInt(kDownloadSection, kKeepShootTimeKey, 1) != 0;
    return s;
}

namespace {

char16_t Lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool SameName(TextView a, TextView b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

TextView Trimmed(TextView t) {
    while (!t.empty() && (t.front() == u' ' || t.front() == u'\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == u' ' || t.back() == u'\t' || t.back() == u'\r')) t.remove_suffix(1);
    return t;
}

enum class IniEncoding { Utf16Le, Utf16Be, Utf8Bom, Gbk };

std::string Encode(TextView text, IniEncoding enc) {
    std::string out;
    switch (enc) {
        case IniEncoding::Utf16Le:
        case IniEncoding::Utf16Be: {
            const bool be = enc == IniEncoding::Utf16Be;
            out = be ? "\xFE\xFF" : "\xFF\xFE";
            for (char16_t c : text) {
                const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
                out += be ? hi : lo;
                out += be ? lo : hi;
            }
            return out;
        }
        case IniEncoding::Utf8Bom:
            return "\xEF\xBB\xBF" + ToUtf8(text);
        case IniEncoding::Gbk:
            break;
    }
    const Bytes gbk = TextToGbk(text);
    return std::string(gbk.begin(), gbk.end());
}

}  // namespace

std::optional<std::string> WriteExtSetting(const Text& programFolder, TextView section, TextView key,
                                           TextView value) {
    const std::filesystem::path path = PathFromText(programFolder + kExtSettingsFileName);
    std::string bytes;
    IniEncoding enc = IniEncoding::Utf8Bom;
    Text text;
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        if (!ReadWholeFile(path, bytes)) return std::string("cannot read ") + path.string();
        const auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
        if (bytes.size() >= 2 && b(0) == 0xFF && b(1) == 0xFE)
            enc = IniEncoding::Utf16Le;
        else if (bytes.size() >= 2 && b(0) == 0xFE && b(1) == 0xFF)
            enc = IniEncoding::Utf16Be;
        else if (bytes.size() >= 3 && b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF)
            enc = IniEncoding::Utf8Bom;
        else
            enc = IniEncoding::Gbk;
        text = CIni::DecodeFile(bytes);
    }
    // Lines without their ends; the file's line end is kept (CR LF unless it uses bare LF).
    const bool crlf = text.find(u"\r\n") != Text::npos || text.find(u'\n') == Text::npos;
    std::vector<Text> lines;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find(u'\n', pos);
        if (end == Text::npos) end = text.size();
        Text line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == u'\r') line.pop_back();
        lines.push_back(std::move(line));
        pos = end + 1;
    }
    const Text entry = Text(key) + u"=" + Text(value);
    // The first matching section and its first matching key win, as for reading.
    std::size_t sectionAt = lines.size(), insertAt = lines.size();
    bool replaced = false;
    for (std::size_t i = 0; i < lines.size() && !replaced; ++i) {
        const TextView l = Trimmed(lines[i]);
        if (!l.empty() && l.front() == u'[') {
            if (sectionAt != lines.size()) break;  // the end of our section
            const std::size_t close = l.rfind(u']');
            if (close != TextView::npos && SameName(Trimmed(l.substr(1, close - 1)), section)) {
                sectionAt = i;
                insertAt = i + 1;
            }
            continue;
        }
        if (sectionAt == lines.size() || l.empty() || l.front() == u';') continue;
        insertAt = i + 1;
        const std::size_t eq = l.find(u'=');
        if (eq != TextView::npos && SameName(Trimmed(l.substr(0, eq)), key)) {
            lines[i] = entry;
            replaced = true;
        }
    }
    if (!replaced) {
        if (sectionAt == lines.size()) {
            if (!lines.empty() && lines.back().empty()) lines.pop_back();
            if (!lines.empty()) lines.push_back(Text());
            lines.push_back(u"[" + Text(section) + u"]");
            lines.push_back(entry);
        } else {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
        }
    }
    Text out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i + 1 == lines.size() && lines[i].empty()) break;  // the file's own last line end
        out += lines[i];
        out += crlf ? u"\r\n" : u"\n";
    }
    if (!WriteFileAtomic(path, Encode(out, enc))) return "cannot write " + path.string();
    return std::nullopt;
}

}  // namespace qm

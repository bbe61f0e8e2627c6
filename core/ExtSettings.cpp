#include "core/ExtSettings.h"

#include <system_error>

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
    return s;
}

}  // namespace qm

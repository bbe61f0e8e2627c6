#include "core/SiteCatalogue.h"

#include <array>

namespace qm {

namespace {

// "Contains" in the catalogue's sense: found at a position after the first character.
bool Contains(TextView text, TextView what) { return text.size() > 1 && text.find(what, 1) != TextView::npos; }

struct SiteTest {
    int site;
    const char16_t* needle;
};

// Tests in the order they run; the first match decides. Index 0 is handled before these.
constexpr std::array<SiteTest, 24> kTests{{
    {1, u"baidu.com"},     {2, u"163.com"},       {3, u"renren.com"},      {4, u"sina.com"},
    {4, u"weibo.com/"},    {5, u"56.com"},        {6, u"poco.cn"},         {7, u"yupoo.com"},
    {8, u"51.com"},        {10, u"pchome.net"},   {11, u"taobao.com"},     {11, u"tmall.com/"},
    {11, u"1688.com"},     {12, u"moko.cc"},      {13, u"babytree.com"},   {14, u"pconline.com.cn"},
    {15, u"hupu.com"},     {16, u"jd.com"},       {16, u"zol.com.cn"},     {17, u"instagram.com"},
    {18, u"huaban.com"},   {18, u"duitang.com"},  {19, u"lofter.com"},     {20, u".topit."},
}};

constexpr std::array<const char16_t*, kSiteCount> kCaptions{{
    u"QQ空间/QQ群/微博", u"百度相册",     u"网易相册",   u"人人网相册", u"新浪微博相册",
    u"56相册",               u"POCO相册",     u"又拍网相册", u"51相册",     u"(保留)",
    u"PChome相册",           u"淘宝/天猫/1688", u"美空网",   u"宝宝树相册", u"太平洋相册",
    u"虎扑相册",             u"京东/中关村",  u"Instagram",  u"花瓣/堆糖",  u"LOFTER",
    u"Topit",
}};

}  // namespace

std::optional<SiteDetection> DetectSite(TextView text, int currentSelection) {
    if (text.find(u"http://") == TextView::npos && text.find(u"https://") == TextView::npos)
        return std::nullopt;
    SiteDetection r{currentSelection};
    if (Contains(text, u"qq.com/") && text.find(u"163.com/") == TextView::npos) {
        r.site = 0;
    } else {
        for (const auto& t : kTests) {
            if (Contains(text, t.needle)) {
                r.site = t.site;
                break;
            }
        }
    }
    return r;
}

Text SiteCaption(int index) {
    if (index < 0 || index >= kSiteCount) return {};
    return kCaptions[static_cast<std::size_t>(index)];
}

}  // namespace qm

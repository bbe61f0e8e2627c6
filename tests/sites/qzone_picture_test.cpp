// One picture of a QZone photo list: which address is the best in every form the services have
// answered with, where a picture's object ends, and its times as China time.
#include "sites/QZonePicture.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

Text Object(const std::string& fields) {
    return FromUtf8(fields);
}

TEST(QZonePicture, BestAddressInEveryForm) {
    // Today's: raw and origin_url empty, pre the medium form, url the big one.
    auto a = BestAddresses(Object(R"("pre" : "http:\/\/photogz.photo.store.qq.com\/psc?\/V10x\/ruAM!\/m&bo=OASg!",
        "raw" : "", "origin_url" : "", "raw_upload" : 0,
        "url" : "http:\/\/photogz.photo.store.qq.com\/psc?\/V10x\/ruAM!\/b&bo=OASg!")"));
    EXPECT_EQ(a.main, u"http://photogz.photo.store.qq.com/psc?/V10x/ruAM!/b&bo=OASg!");
    EXPECT_EQ(a.alternate, u"http://photogz.photo.store.qq.com/psc?/V10x/ruAM!/m&bo=OASg!");
    // The same on m.qpic.cn, and the older psb? form with /a/ and /b/ segments.
    a = BestAddresses(Object(R"("pre" : "http:\/\/m.qpic.cn\/psc?\/V1\/k!\/m&bo=Q!", "url" : "http:\/\/m.qpic.cn\/psc?\/V1\/k!\/b&bo=Q!")"));
    EXPECT_EQ(a.main, u"http://m.qpic.cn/psc?/V1/k!/b&bo=Q!");
    a = BestAddresses(Object(R"("pre" : "http:\/\/b1.photo.store.qq.com\/psb?\/V1\/k\/m\/x", "url" : "http:\/\/b1.photo.store.qq.com\/psb?\/V1\/k\/b\/x")"));
    EXPECT_EQ(a.main, u"http://b1.photo.store.qq.com/psb?/V1/k/b/x");
    EXPECT_EQ(a.alternate, u"http://b1.photo.store.qq.com/psb?/V1/k/m/x");
    // raw still comes first, then origin_url (its /o/ read as /r/ after a raw upload), then url.
    a = BestAddresses(Object(R"("origin_url" : "http:\/\/o.qq.com\/psb?\/k\/o\/x", "pre" : "http:\/\/p.qq.com\/psc?\/k!\/m&bo=1",
        "raw_upload" : 1, "url" : "http:\/\/p.qq.com\/psc?\/k!\/b&bo=1")"));
    EXPECT_EQ(a.main, u"http://o.qq.com/psb?/k/r/x");
    EXPECT_EQ(a.alternate, u"http://p.qq.com/psc?/k!/b&bo=1");

    // Old answers keep their addresses: url absent, equal to pre, or naming no larger form.
    a = BestAddresses(Object(R"("pre" : "http:\/\/b1.qq.com\/psb?\/k\/a\/x", "raw" : "http:\/\/r.qq.com\/psbe?\/k\/r\/x")"));
    EXPECT_EQ(a.main, u"http://r.qq.com/psb?/k/r/x");
    EXPECT_EQ(a.alternate, u"http://b1.qq.com/psb?/k/b/x");
    a = BestAddresses(Object(R"("pre" : "http:\/\/b1.qq.com\/psb?\/k\/a\/x", "url" : "http:\/\/b1.qq.com\/psb?\/k\/a\/x")"));
    EXPECT_EQ(a.main, u"http://b1.qq.com/psb?/k/b/x");
    EXPECT_EQ(a.alternate, u"");
    a = BestAddresses(Object(R"("pre" : "http:\/\/b1.qq.com\/psb?\/k\/a\/x", "url" : "http:\/\/b1.qq.com\/psb?\/k\/b\/x")"));
    EXPECT_EQ(a.main, u"http://b1.qq.com/psb?/k/b/x");
    EXPECT_EQ(a.alternate, u"");
    a = BestAddresses(Object(R"("pre" : "http:\/\/p.qq.com\/psc?\/k!\/b&bo=1", "url" : "http:\/\/p.qq.com\/psc?\/k!\/m&bo=1")"));
    EXPECT_EQ(a.main, u"http://p.qq.com/psc?/k!/b&bo=1");
}

TEST(QZonePicture, TheObjectEndsBeforeWhatFollowsTheList) {
    // The last picture lacks a name and a url; the topic object after the list has both.
    const Text piece = FromUtf8(R"( : "9", "desc" : "a {brace} and \"quote\"", "pre" : "http:\/\/p\/psc?\/k!\/m&bo=1"
        }
      ],
      "topic" : { "name" : "topic", "pre" : "http:\/\/t\/a\/pre", "url" : "http:\/\/t\/b\/url" }
    })");
    const TextView object = PictureObject(piece);
    EXPECT_EQ(object.find(u"topic"), TextView::npos);
    EXPECT_EQ(BestAddresses(object).main, u"http://p/psc?/k!/m&bo=1");
    // A picture whose text broke the JSON never closes: it is read up to the next picture.
    const Text broken = FromUtf8(R"( : "9", "desc" : "he said "hi {[ ", "pre" : "http:\/\/p\/x" )");
    EXPECT_EQ(PictureObject(broken).size(), broken.size());
    // A string ends at a quote after an even run of backslashes, not after an odd one.
    const Text slashes = FromUtf8(R"( : "9", "desc" : "\\", "x" : "\\\"}" }, "topic" : { "name" : "t" })");
    EXPECT_EQ(PictureObject(slashes), FromUtf8(R"( : "9", "desc" : "\\", "x" : "\\\"}" )"));
}

TEST(QZonePicture, FieldsAreReadWhereTheirKeyFirstOccurs) {
    // A key inside a nested object or written before as another type still counts first, as a
    // search would find it; a string field needs its ` : "` and reads up to the next quote.
    const Text object = FromUtf8(
        R"("exif" : { "name" : "nested" }, "name" : "outer", "raw" : 0, "raw" : "http:\/\/r\/x", "url":"a", )"
        R"("url" : "b", "pre" : "open)");
    const PictureFields f(object);
    EXPECT_EQ(f.String(PictureFields::Name), u"nested");
    EXPECT_EQ(f.String(PictureFields::Raw), u"http:\\/\\/r\\/x");
    EXPECT_EQ(f.Scalar(PictureFields::Raw), u"0");
    EXPECT_EQ(f.String(PictureFields::Url), u"b");
    EXPECT_EQ(f.Scalar(PictureFields::Url), u"a");
    EXPECT_EQ(f.String(PictureFields::Pre), u"");      // never closes
    EXPECT_EQ(f.Scalar(PictureFields::Pre), u"open");  // a scalar runs to the object's end
    EXPECT_EQ(f.String(PictureFields::Desc), u"");
    // A quote that closes a value may open the key a search finds next.
    EXPECT_EQ(PictureFields(FromUtf8(R"("x" : "a"lloc" : "1")")).String(PictureFields::Lloc), u"1");
}

TEST(QZonePicture, VideoFlagInEveryType) {
    // Answers give the flag as a boolean, a number or a string; the last key of an object too.
    EXPECT_TRUE(FlagField(FromUtf8(R"("is_video" : true, "lloc" : "1")"), u"is_video"));
    EXPECT_TRUE(FlagField(FromUtf8(R"("is_video":1})"), u"is_video"));
    EXPECT_TRUE(FlagField(FromUtf8(R"("lloc" : "1", "is_video" : "true"
        })"), u"is_video"));
    EXPECT_FALSE(FlagField(FromUtf8(R"("is_video" : false, "cp_flag" : true)"), u"is_video"));
    EXPECT_FALSE(FlagField(FromUtf8(R"("is_video" : 0, "lloc" : "1")"), u"is_video"));
    EXPECT_FALSE(FlagField(FromUtf8(R"("lloc" : "1")"), u"is_video"));
}

TEST(QZonePicture, TimesAreChinaTime) {
    EXPECT_EQ(ParseServiceTime(u"2021-11-01 22:54:34"), 1635778474);
    EXPECT_EQ(ParseServiceTime(u"2021:11:01 22:54:34"), 1635778474);
    EXPECT_EQ(ParseServiceTime(u"1635778474"), 1635778474);
    EXPECT_EQ(ParseServiceTime(u"1635778474000"), 1635778474);
    EXPECT_EQ(ParseServiceTime(u"0"), 0);
    EXPECT_EQ(ParseServiceTime(u"0000:00:00 00:00:00"), 0);
    EXPECT_EQ(ParseServiceTime(u"yesterday"), 0);

    auto t = ReadPictureTimes(FromUtf8(R"("exif" : { "originalTime" : "2021:10:01 08:00:00" }, "modifytime" : 1500000000,
        "rawshoottime" : "2021-11-01 22:54:34", "uploadtime" : "2021-11-01 22:54:52")"));
    EXPECT_EQ(t.shot, 1635778474);
    EXPECT_EQ(t.uploaded, 1635778492);
    t = ReadPictureTimes(FromUtf8(R"("exif" : { "originalTime" : "2021:10:01 08:00:00" }, "rawshoottime" : 0,
        "modifytime" : 1500000000)"));
    EXPECT_EQ(t.shot, 1633046400);
    EXPECT_EQ(t.uploaded, 1500000000);
}

}  // namespace
}  // namespace qm

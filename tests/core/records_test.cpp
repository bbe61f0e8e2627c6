// Album records, file-name cleaning, site detection and the stored-string cipher.
#include <gtest/gtest.h>

#include <set>

#include "core/AlbumList.h"
#include "core/CleanFileName.h"
#include "core/Prompts.h"
#include "core/SiteCatalogue.h"

using namespace qm;

TEST(AlbumList, SameNamesAreNumberedInOrder) {
    AlbumList list;
    ST_PERLISTRECORD r;
    r.Name = u"a";
    r.PictureCount = 7;
    r.PrivacyFlags = 4;
    r.ThumbIndex = 9;
    r.ListPosition = 77;
    EXPECT_EQ(list.AppendRecord(r), 1u);
    EXPECT_EQ(list.AppendRecord(r), 2u);
    EXPECT_EQ(list.AppendRecord(r), 3u);
    const auto all = list.Snapshot();
    EXPECT_EQ(all[0].Name, u"a");
    EXPECT_EQ(all[1].Name, u"a (1)");
    EXPECT_EQ(all[2].Name, u"a (2)");
    EXPECT_EQ(all[2].ListPosition, 2u);
    EXPECT_EQ(all[2].ThumbIndex, -1);
    EXPECT_EQ(all[2].PictureCount, 7);
    EXPECT_EQ(all[2].PrivacyFlags, 4u);
}

TEST(AlbumList, NamesAreCleanedCutAndNeverEmpty) {
    AlbumList list;
    ST_PERLISTRECORD r;
    r.Name = u"";
    list.AppendRecord(r);
    r.Name = u"../../etc/passwd";
    list.AppendRecord(r);
    r.Name = Text(100, u'长');
    list.AppendRecord(r);
    list.AppendRecord(r);
    const auto all = list.Snapshot();
    EXPECT_EQ(all[0].Name, u"pic0");
    EXPECT_EQ(all[1].Name, u"etcpasswd");
    EXPECT_EQ(all[2].Name, Text(80, u'长'));
    EXPECT_EQ(all[3].Name, Text(76, u'长') + u" (1)");
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
}

// Long names that agree in their first 80 characters stay distinct within 80 characters, so a cut
// to 80 (the table's) never merges two albums into one folder.
TEST(AlbumList, LongSameNamesStayUniqueWithin80) {
    AlbumList list;
    ST_PERLISTRECORD r;
    for (const std::size_t length : {79u, 80u, 85u}) {
        for (int i = 0; i < 3; ++i) {
            r.Name = Text(length, u'x');
            list.AppendRecord(r);
        }
    }
    r.Name = Text(79, u'x') + u" y";  // the cut ends on a blank: it goes, as after cleaning
    list.AppendRecord(r);
    list.AppendRecord(r);
    std::set<Text> names;
    for (std::size_t i = 0; i < list.Count(); ++i) {
        list.CutName(i, 80);  // as the front ends do when they show the row
        const Text name = list.Get(i)->Name;
        EXPECT_LE(name.size(), 80u);
        EXPECT_NE(name.back(), u' ');
        names.insert(name);
    }
    EXPECT_EQ(names.size(), list.Count());
    EXPECT_EQ(list.Get(1)->Name, Text(76, u'x') + u" (1)");
    EXPECT_EQ(list.Get(3)->Name, Text(80, u'x'));  // 80 x is no longer taken by the 79-x ones
}

TEST(CleanFileName, ReservedCharactersDotsAndFallbacks) {
    Text t = u"a/b:c*d?e\"f<g>h|i\\j";
    CleanFileName(t, false, 0);
    EXPECT_EQ(t, u"abcdefghij");
    t = u"...";
    CleanFileName(t, true, 0);
    EXPECT_EQ(t, u"。。。");
    t = u"  ..name..  ";
    CleanFileName(t, false, 0);
    EXPECT_EQ(t, u"name");
    t = u"a    b\tc\r\nd\x07";
    CleanFileName(t, false, 0);
    EXPECT_EQ(t, u"a b_cd");
    t = u"&amp;&lt;x&gt;&quot;";
    CleanFileName(t, false, 0);
    EXPECT_EQ(t, u"&x");  // "<", ">" and the quote are removed after decoding
    t = u"???";
    CleanFileName(t, false, 0);
    EXPECT_EQ(t, u"");
    t = u"???";
    CleanFileName(t, true, 3);
    EXPECT_EQ(t, u"pic3");
    t = u"";
    CleanFileName(t, true, kTimeStampFallback);
    EXPECT_EQ(t.size(), 14u);
    EXPECT_EQ(t.find_first_not_of(u"0123456789"), Text::npos);
    t = Text(1000, u'x');
    CleanFileName(t, true, 1);
    EXPECT_EQ(t, u"pic1");
}

TEST(CleanFileName, WindowsDeviceNamesAndTrailingBlanksAreMadeSafe) {
    for (const char16_t* n : {u"CON", u"nul", u"COM1", u"lpt9.txt", u"Aux"}) {
        Text t = n;
        CleanFileName(t, false, 0);
        EXPECT_EQ(t, Text(u"_") + n);
    }
    Text t = u"CONSOLE";
    CleanFileName(t, false, 0);
    EXPECT_EQ(t, u"CONSOLE");
    t = u"name. .";
    CleanFileName(t, false, 0);
    EXPECT_EQ(t, u"name");
}

TEST(IsPictureExtension, KnownExtensionsAnyCase) {
    EXPECT_TRUE(IsPictureExtension(u"a.JPG"));
    EXPECT_TRUE(IsPictureExtension(u"a.b.Png"));
    EXPECT_TRUE(IsPictureExtension(u".tif"));
    EXPECT_FALSE(IsPictureExtension(u"a.webp"));
    EXPECT_FALSE(IsPictureExtension(u"jpg"));
    EXPECT_FALSE(IsPictureExtension(u"a.jpg.txt"));
}

TEST(DetectSite, OrderTraps) {
    auto site = [](const char16_t* t) { return DetectSite(t, 5)->site; };
    EXPECT_FALSE(DetectSite(u"user.qzone.qq.com/123", 5).has_value());
    EXPECT_EQ(site(u"http://user.qzone.qq.com/123"), 0);
    EXPECT_EQ(site(u"http://photo.163.com/x?from=qq.com/"), 2);  // NetEase wins over qq.com/
    EXPECT_EQ(site(u"http://detail.tmall.com"), 5);              // Tmall needs the slash
    EXPECT_EQ(site(u"http://detail.tmall.com/item"), 11);
    EXPECT_EQ(site(u"http://www.topit.me/x"), 20);
    EXPECT_EQ(site(u"http://topit.me/x"), 5);  // the label needs a dot on each side
    EXPECT_EQ(site(u"http://photo.weibo.com/x sina.com"), 4);
    EXPECT_EQ(site(u"http://item.jd.com/1.html"), 16);
    EXPECT_EQ(site(u"http://example.org/"), 5);
}

TEST(Cipher, RoundTripAndPromptsDecipher) {
    const Text t = u"请先输入 QQ 号 https://x/?a=1\n";
    EXPECT_EQ(DecipherText(EncipherText(t)), t);
    EXPECT_EQ(EncipherText(t).find("QQ"), std::string::npos);
    EXPECT_NE(PromptEmptyTarget().find(u"QQ号"), Text::npos);
    EXPECT_FALSE(PromptSelectAlbums().empty());
    EXPECT_FALSE(PromptDownloadListedSoFar().empty());
    EXPECT_NE(PromptMoodLogin().find(u"登录"), Text::npos);
    EXPECT_EQ(HelpAddress(2).substr(0, 8), u"https://");
    EXPECT_EQ(DecipherText("zz"), u"");
}

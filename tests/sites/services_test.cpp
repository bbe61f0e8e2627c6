// The service table: which service an address names, which one serves a target when a kind was
// picked, and the words that name the rows.
#include "sites/Services.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace qm {
namespace {

TEST(Services, AddressesPickTheirService) {
    EXPECT_EQ(ServiceOfAddress(u"http://t.qq.com/someone").kind, TargetKind::Weibo);
    EXPECT_EQ(ServiceOfAddress(u"http://qun.qzone.qq.com/group#!/123/").kind, TargetKind::Group);
    EXPECT_EQ(ServiceOfAddress(u"https://user.qzone.qq.com/123/").kind, TargetKind::QZone);
    EXPECT_EQ(ServiceOfAddress(u"t.qq.com").kind, TargetKind::QZone);  // a mark at the very front is no address

    // A Weibo page is served by Weibo whichever other kind was picked; a QZone choice stands.
    EXPECT_EQ(ServingService(TargetKind::Group, u"http://t.qq.com/someone?preview").kind, TargetKind::Weibo);
    EXPECT_EQ(ServingService(TargetKind::QZone, u"http://t.qq.com/someone").kind, TargetKind::QZone);
    EXPECT_EQ(ServingService(TargetKind::Group, u"445566").kind, TargetKind::Group);

    // Every row has its own word, and the word finds the row again.
    std::set<std::string> words;
    for (const Service& s : Services()) {
        EXPECT_TRUE(words.insert(s.word).second) << s.word;
        ASSERT_NE(ServiceByWord(s.word), nullptr);
        EXPECT_EQ(ServiceByWord(s.word)->kind, s.kind);
        EXPECT_EQ(&ServiceOf(s.kind), &s);
    }
    EXPECT_EQ(ServiceByWord("blog"), nullptr);
}

}  // namespace
}  // namespace qm

// The album's registry of names given: case-blind, and exact for many names as its table grows.
#include <gtest/gtest.h>

#include "core/NameRegistry.h"

namespace qm {
namespace {

TEST(NameRegistry, FindsEveryNameAddedIgnoringCaseAndNothingElse) {
    NameRegistry names;
    EXPECT_FALSE(names.Taken(u"a.jpg"));
    names.Add(u"Photo.JPG");
    names.Add(u"Äpfel.jpg");
    EXPECT_TRUE(names.Taken(u"photo.jpg"));
    EXPECT_TRUE(names.Taken(u"äPFEL.JPG"));
    EXPECT_FALSE(names.Taken(u"photo.jpeg"));
    EXPECT_FALSE(names.Taken(u"photo.jp"));
    names.Add(u"PHOTO.jpg");  // the same name again is kept once
    EXPECT_EQ(names.Size(), 2u);

    // Through many growths of the table: every name still found, none of their neighbours.
    for (int i = 0; i < 20000; ++i) names.Add(u"IMG_" + FormatText("%d", i) + u".jpg");
    EXPECT_EQ(names.Size(), 20002u);
    for (int i = 0; i < 20000; ++i) {
        ASSERT_TRUE(names.Taken(u"img_" + FormatText("%d", i) + u".JPG")) << i;
        ASSERT_FALSE(names.Taken(u"img_" + FormatText("%d", i) + u"(1).jpg")) << i;
    }
    EXPECT_TRUE(names.Taken(u"photo.jpg"));

    names.Clear();
    EXPECT_FALSE(names.Taken(u"photo.jpg"));
    names.Add(u"photo.jpg");
    EXPECT_TRUE(names.Taken(u"PHOTO.JPG"));
}

}  // namespace
}  // namespace qm

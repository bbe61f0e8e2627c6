// Text utilities: the traps a fetcher would fall into, plus robustness on random input.
#include "net/StringCtrl.h"
#include "net/FindUnit.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "ChildProcess.h"
#include "TempFolder.h"

namespace qm {
namespace {

TEST(CutBetween, FindsFieldAndConsumesOnlyThroughStartMarker) {
    Text t = u"x[y]z";
    EXPECT_EQ(CutBetween(t, u"[", u"]"), u"y");
    EXPECT_EQ(t, u"x[y]z");
    EXPECT_EQ(CutBetween(t, u"[", u"]", CUT_CONSUME), u"y");
    EXPECT_EQ(t, u"y]z");  // after the start marker, not after the end marker
}

TEST(CutBetween, MissingEndMarker) {
    Text t = u"a:b";
    EXPECT_EQ(CutBetween(t, u":", u";"), u"");
    EXPECT_EQ(CutBetween(t, u":", u";", CUT_OPEN_END), u"b");
    EXPECT_EQ(CutBetween(t, u":", u";", CUT_CONSUME), u"");
    EXPECT_EQ(t, u"b");  // consumed past the start marker even without a result
}

TEST(CutBetween, MissingStartMarkerLeavesTextAlone) {
    Text t = u"abc";
    EXPECT_EQ(CutBetween(t, u"[", u"]", CUT_CONSUME | CUT_OPEN_END), u"");
    EXPECT_EQ(t, u"abc");
}

TEST(CutBetween, EmptyMarkers) {
    Text t = u"abc";
    EXPECT_EQ(CutBetween(t, u"", u"c"), u"ab");  // empty start matches at the beginning
    EXPECT_EQ(CutBetween(t, u"a", u""), u"");
    EXPECT_EQ(CutBetween(t, u"a", u"", CUT_OPEN_END), u"");  // empty end wins over open end
}

TEST(CutBetween, ViewWalksThroughRepeatedFields) {
    const Text page = u"{\"id\":\"1\",\"n\":\"a\"},{\"id\":\"2\",\"n\":\"b\"}";
    TextView v(page);
    std::vector<Text> got;
    for (;;) {
        Text id = CutBetween(v, u"\"id\":\"", u"\"", CUT_CONSUME);
        if (id.empty()) break;
        got.push_back(id + u"=" + CutBetween(v, u"\"n\":\"", u"\"", CUT_CONSUME));
    }
    EXPECT_EQ(got, (std::vector<Text>{u"1=a", u"2=b"}));
    EXPECT_EQ(v, u"b\"}");
    // The view points into the original text: nothing was copied.
    EXPECT_EQ(v.data(), page.data() + page.size() - 3);
}

TEST(SplitAndCount, PiecesAndCounts) {
    std::vector<Text> out{u"stale"};
    EXPECT_EQ(SplitByMarker(u"abc", u",", out), 0);
    EXPECT_TRUE(out.empty());  // not a one-piece list
    EXPECT_EQ(SplitByMarker(u"x,,y", u",", out), 2);
    EXPECT_EQ(out, (std::vector<Text>{u"x", u"", u"y"}));
    EXPECT_EQ(SplitByMarker(u",", u",", out), 1);
    EXPECT_EQ(out, (std::vector<Text>{u"", u""}));
    EXPECT_EQ(SplitByMarker(u"abc", u"", out), 0);

    EXPECT_EQ(CountOccurrences(u"aaaa", u"aa"), 2);  // non-overlapping
    EXPECT_EQ(CountOccurrences(u"aaa", u"aa"), 1);
    EXPECT_EQ(CountOccurrences(u"abc", u""), 0);
}

TEST(DeleteThroughAndKeepBefore, Positions) {
    Text t = u"key=5";
    EXPECT_EQ(DeleteThrough(t, u"key=", false), 0);
    EXPECT_EQ(t, u"key=5");
    EXPECT_EQ(DeleteThrough(t, u"key=", true), 0);
    EXPECT_EQ(t, u"5");
    t = u"ab=cd=ef";
    EXPECT_EQ(DeleteThrough(t, u"=", false), 2);
    EXPECT_EQ(t, u"=cd=ef");
    EXPECT_EQ(DeleteThrough(t, u"#", true), -1);
    EXPECT_EQ(t, u"=cd=ef");
    EXPECT_EQ(KeepBefore(t, u"=e"), 3);
    EXPECT_EQ(t, u"=cd");
    EXPECT_EQ(KeepBefore(t, u"#"), -1);
    EXPECT_EQ(t, u"=cd");
}

TEST(ReplaceText, PairsAndAllWithoutRescan) {
    Text t = u"a/b\\c";
    ReplacePairs(t, u"/|\\", u"_|-");
    EXPECT_EQ(t, u"a_b-c");
    // Items apply in turn, each over the result of the previous ones.
    t = u"ab";
    ReplacePairs(t, u"a|b", u"b|c");
    EXPECT_EQ(t, u"cc");
    // Different counts of "|": the whole find text, separator included, is replaced.
    t = u"x|y x y";
    ReplacePairs(t, u"x|y", u"1|2|3");
    EXPECT_EQ(t, u"1|2|3 x y");
    // An empty find item does nothing.
    t = u"abc";
    ReplacePairs(t, u"|b", u"Z|B");
    EXPECT_EQ(t, u"aBc");

    t = u"aaa";
    ReplaceAll(t, u"a", u"aa");  // inserted text is not scanned again
    EXPECT_EQ(t, u"aaaaaa");
    ReplaceAll(t, u"", u"x");
    EXPECT_EQ(t, u"aaaaaa");
}

TEST(StripTags, RemovesTagsKeepsLoneBracket) {
    EXPECT_EQ(StripTags(u"x<b>y</b>z"), u"xyz");
    EXPECT_EQ(StripTags(u"a < b"), u"a < b");
    EXPECT_EQ(StripTags(u"<br/>line<br/>two"), u"linetwo");
    EXPECT_EQ(StripTags(u"a<>b<i>c"), u"a<>b<i>c");  // the empty pair ends the loop
}

TEST(DecodeEntities, FixedOrder) {
    Text t = u"&quot;a&quot; &lt;b&gt; c&nbsp;d&hellip; &#39;e&#39; &copy;";
    DecodeHtmlEntities(t);
    EXPECT_EQ(t, u"\"a\" <b> c d\u2026 'e' &copy;");
    t = u"&amp;amp;";
    DecodeHtmlEntities(t);
    EXPECT_EQ(t, u"&amp;");
    t = u"&amp;lt;&amp;quot;";
    DecodeHtmlEntities(t);
    EXPECT_EQ(t, u"<&quot;");
    t = u"a?x=1&bo=2&y&#39;";  // ampersands of an address before the one entity
    DecodeHtmlEntities(t);
    EXPECT_EQ(t, u"a?x=1&bo=2&y'");
}

TEST(DecodeUnicodeEscapes, PiecesAndShortTails) {
    EXPECT_EQ(DecodeUnicodeEscapes(u"a\\u4e2d\\u6587b"), u"a中文b");
    EXPECT_EQ(DecodeUnicodeEscapes(u"x\\u4e"), u"x4e");
    EXPECT_EQ(DecodeUnicodeEscapes(u"no escapes"), u"no escapes");
    EXPECT_EQ(DecodeUnicodeEscapes(u"\\u0041\\u00e9"), u"Aé");
    // Reading stops at the first non-hex character: "4g" reads as 4.
    EXPECT_EQ(DecodeUnicodeEscapes(u"\\u4gxyz"), Text(1, char16_t(4)) + u"z");
    // Surrogate escapes join into one character.
    EXPECT_EQ(ToUtf8(DecodeUnicodeEscapes(u"\\ud83d\\ude00")), "\xF0\x9F\x98\x80");
}

TEST(FindUnit, EveryPlaceOfABlockOfFour) {
    for (std::size_t at = 0; at < 11; ++at) {
        Text text(11, u'\u0100');  // units that share a byte with the one looked for
        text[at] = u'"';
        EXPECT_EQ(FindUnit(text, u'"'), at);
        EXPECT_EQ(FindUnit(text, u'"', at), at);
        EXPECT_EQ(FindUnit(text, u'"', at + 1), TextView::npos);
    }
    EXPECT_EQ(FindUnit(u"", u'"'), TextView::npos);
    EXPECT_EQ(FindUnit(u"ab", u'a', 5), TextView::npos);  // from beyond the end
}

TEST(IsUtf8Text, Rule) {
    EXPECT_FALSE(IsUtf8Text(""));
    EXPECT_FALSE(IsUtf8Text("plain ascii"));
    EXPECT_TRUE(IsUtf8Text("\xE4\xB8\xAD"));
    EXPECT_FALSE(IsUtf8Text("a\xE4\xB8"));         // ends inside a three-byte sequence
    EXPECT_FALSE(IsUtf8Text("\xD6\xD0\xCE\xC4"));  // GBK 中文
    EXPECT_FALSE(IsUtf8Text("\x80"));
    EXPECT_TRUE(IsUtf8Text("\xC0\x80"));  // overlong forms are not refused
    EXPECT_TRUE(IsUtf8Text("\xFE\x80\x80\x80\x80"));
    // Long texts are read eight ASCII bytes at a time: a sequence, whole or cut short, counts at
    // any place.
    const std::string run(19, 'a');
    EXPECT_FALSE(IsUtf8Text(run));
    for (std::size_t at = 0; at <= run.size(); ++at) {
        EXPECT_TRUE(IsUtf8Text(run.substr(0, at) + "\xE4\xB8\xAD" + run.substr(at))) << at;
        EXPECT_FALSE(IsUtf8Text(run.substr(0, at) + "\xE4\xB8" + run.substr(at))) << at;
    }
}

TEST(Utf8Edges, RoundTripAndInvalidInput) {
    const Text t = u"a中\U0001F600é";
    EXPECT_EQ(FromUtf8(ToUtf8(t)), t);
    EXPECT_EQ(FromUtf8("a\xFF"
                       "b"),
              u"a\uFFFDb");
    EXPECT_EQ(FromUtf8("\xE4\xB8"), u"\uFFFD\uFFFD");
    EXPECT_EQ(FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // an encoded surrogate
    EXPECT_EQ(ToUtf8(Text(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(SmallHelpers, TrimFormatRandom) {
    EXPECT_EQ(Trim(u" \t\r\nab c\n "), u"ab c");
    EXPECT_EQ(Trim(u" \t "), u"");
    EXPECT_EQ(Trim(u"\u3000\u00A0\v\f 12345\u3000\f\u00A0"), u"12345");  // IME and no-break spaces too
    EXPECT_EQ(FormatText("%04d|%4u|%08u|%s", 7, 12u, 345u, "中"), u"0007|  12|00000345|中");
    const std::string longArg(1000, 'x');
    EXPECT_EQ(FormatText("%s!", longArg.c_str()).size(), 1001u);

    // Within one second every call gives the same value; retry once if a second boundary passed.
    Text a = RandomFraction(), b = RandomFraction();
    if (a != b) a = RandomFraction(), b = RandomFraction();
    EXPECT_EQ(a, b);
    ASSERT_EQ(a.size(), 19u);  // "0." + 16 digits + line feed (or "1.0000000000000000\n")
    EXPECT_EQ(a.back(), u'\n');
    EXPECT_TRUE(a.starts_with(u"0.") || a == u"1.0000000000000000\n");
}

// The cache-busting fraction keeps its decimal point under a locale that writes a comma.
TEST(SmallHelpers, RandomFractionIgnoresTheNumericLocale) {
    test::TempFolder dir("qm-locale-");
    test::ChildLaunch build;
    build.argv = {test::FindProgram("localedef").string(), "-c", "-i", "de_DE", "-f", "UTF-8",
                  (dir.path() / "de_DE.UTF-8").string()};
    build.out = build.err = "/dev/null";
    if (build.argv[0].empty() || (test::RunChild(build, std::chrono::minutes(1)) != 0 &&
                                  !std::filesystem::exists(dir.path() / "de_DE.UTF-8")))
        GTEST_SKIP() << "no German locale can be built here";
    ::setenv("LOCPATH", dir.path().c_str(), 1);
    ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr);
    char probe[8];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    const Text fraction = RandomFraction();
    std::setlocale(LC_NUMERIC, "C");
    ::unsetenv("LOCPATH");
    EXPECT_STREQ(probe, "0,5");  // the locale is in force
    EXPECT_TRUE(fraction.starts_with(u"0.") || fraction.starts_with(u"1.")) << ToUtf8(fraction);
}

TEST(SmallHelpers, RandomFractionFromManyThreads) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([] {
            for (int k = 0; k < 200; ++k) EXPECT_EQ(RandomFraction().size(), 19u);
        });
    }
    for (auto& t : threads) t.join();
}

// Random byte strings through every cutter and decoder: no crash, no exception, sane results.
TEST(Robustness, RandomInputThroughCutters) {
    std::mt19937 rng(12345);
    const char16_t alphabet[] = u"<>[]{}\"':,|&;#\\uamplt0123456789abcdef \n\xD800\xDC00中";
    const size_t alphabetSize = sizeof alphabet / sizeof alphabet[0] - 1;
    for (int round = 0; round < 3000; ++round) {
        Text t(rng() % 200, u' ');
        for (auto& c : t) c = alphabet[rng() % alphabetSize];
        std::string bytes(rng() % 200, '\0');
        for (auto& c : bytes) c = static_cast<char>(rng());
        EXPECT_NO_THROW({
            TextView v(t);
            while (!CutBetween(v, u"<", u">", CUT_CONSUME).empty() || v.find(u'<') != TextView::npos) {
                if (v.empty()) break;
                v.remove_prefix(1);
            }
            Text copy = t;
            CutBetween(copy, u"\"", u"\"", CUT_CONSUME | CUT_OPEN_END);
            std::vector<Text> parts;
            const int n = SplitByMarker(t, u",", parts);
            EXPECT_EQ(parts.size(), n == 0 ? 0u : static_cast<size_t>(n) + 1);
            StripTags(t);
            DecodeUnicodeEscapes(t);
            Text ent = t;
            DecodeHtmlEntities(ent);
            ReplacePairs(ent, u"a|&|", u"b||x");
            DeleteThrough(ent, u";", true);
            KeepBefore(ent, u"|");
            Trim(ent);
            IsUtf8Text(bytes);
            FromUtf8(bytes);
            ToUtf8(t);
        });
    }
}

}  // namespace
}  // namespace qm

#include <gtest/gtest.h>

#include "base/array.h"
#include "base/grow_retry.h"
#include "base/owned.h"
#include "base/wstr.h"

namespace {

TEST(WString, SharesAndCopiesOnChange) {
    WString a(u"abc");
    WString b = a;
    EXPECT_EQ(a.c_str(), b.c_str());
    b.Append(u'd');
    EXPECT_TRUE(a == u"abc");
    EXPECT_TRUE(b == u"abcd");
    a.Append(a);
    EXPECT_TRUE(a == u"abcabc");
    a.Append(a.c_str() + 1, 2);
    EXPECT_TRUE(a == u"abcabcbc");
}

TEST(WString, SearchAndSlices) {
    WString s(u"C:\\a\\b.txt");
    EXPECT_EQ(s.FindLastChar(u'\\'), 4);
    EXPECT_EQ(s.Find(u"b."), 5);
    EXPECT_EQ(s.Find(u"zz"), -1);
    EXPECT_TRUE(s.Substr(5) == u"b.txt");
    EXPECT_TRUE(s.Substr(3, 1) == u"a");
    EXPECT_TRUE(s.Substr(50).IsEmpty());
    EXPECT_TRUE(s.StartsWithNoCase(u"c:\\A"));
    EXPECT_TRUE(s.EndsWith(u".txt"));
    EXPECT_FALSE(WString(u"x").EndsWith(u"xx"));
    EXPECT_TRUE(WString(u" \t x y\r\n\x3000").Trimmed() == u"x y");
    EXPECT_EQ(s.FindFirstOf(u"\\."), 2);
}

TEST(WString, Format) {
    struct Case {
        WString got;
        const char16_t* expected;
    } cases[] = {
        {Format(u"%04d-%02d-%02d %02d", 2026, 12, 7, 5), u"2026-12-07 05"},
        {Format(u"%s Setup", WString(u"Corvane")), u"Corvane Setup"},
        {Format(u"%d", -536870888), u"-536870888"},
        {Format(u"%u", 0xE0000018u), u"3758096408"},
        {Format(u"%04x%04x", 1033, 1250), u"040904e2"},
        {Format(u"100%% %s", WString()), u"100% "},
        {Format(u"%s%d", WString(u"App"), 12), u"App12"},
        {Format(u"missing %d"), u"missing "},
    };
    for (const auto& c : cases) EXPECT_TRUE(c.got == c.expected);
}

TEST(WString, LenientIntegerWraps) {
    struct Case {
        const char16_t* text;
        int32_t value;
    } cases[] = {
        {u"12abc", 12}, {u"-7", -7}, {u"x", 0}, {u"  42", 42}, {u"+5", 5}, {u"-+5", -5},
        {u"\t5", 0}, {u"", 0}, {u"4294967297", 1}, {u"2147483648", INT32_MIN}, {u"12345678901", -539222987}, {u"99999999999999999999", 1661992959},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseLenientInt(WString(c.text)), c.value);
}

TEST(Array, GrowsAndBoundsAreChecked) {
    Array<WString> a;
    for (int i = 0; i < 100; ++i) {
        WString s;
        s.AppendDecimal(i);
        ASSERT_TRUE(a.Add(s));
    }
    EXPECT_EQ(a.Size(), 100);
    EXPECT_TRUE(a[99] == u"99");
    a.RemoveAt(0);
    EXPECT_TRUE(a[0] == u"1");
    Array<WString> copy = a;
    a.Clear();
    EXPECT_EQ(copy.Size(), 99);
    EXPECT_DEATH(copy[99], "");
}

// Each row scripts the answers of the attempts (step and the size asked for)
// and lists the sizes the helper must try.
TEST(GrowAndRetry, SizesTriedAndOutcome) {
    struct Answer {
        QueryStep step;
        uint32_t needed;
    };
    struct Row {
        const char* what;
        uint32_t firstSize;
        int tries;
        Answer answers[6];
        int answerCount;
        uint32_t sizes[6];
        int sizeCount;
        bool result;
    };
    const QueryStep G = QueryStep::kGrow, D = QueryStep::kDone, F = QueryStep::kFailed;
    const Row rows[] = {
        {"fits at once", 200, 0, {{D, 0}}, 1, {200}, 1, true},
        {"grows to the size asked for", 200, 0, {{G, 300}, {D, 0}}, 2, {200, 300}, 2, true},
        {"doubles without a larger size", 260, 3, {{G, 0}, {G, 100}, {D, 0}}, 3, {260, 520, 1040}, 3, true},
        {"stops after the tries", 10, 2, {{G, 20}, {G, 40}, {D, 0}}, 3, {10, 20}, 2, false},
        {"a failure ends it", 10, 5, {{G, 0}, {F, 0}, {D, 0}}, 3, {10, 20}, 2, false},
        {"no limit; a smaller size asked for still doubles", 1, 0, {{G, 0}, {G, 0}, {G, 0}, {G, 0}, {G, 9}, {D, 0}}, 6,
         {1, 2, 4, 8, 16, 32}, 6, true},
        {"zero first size grows to one", 0, 2, {{G, 0}, {D, 0}}, 2, {0, 1}, 2, true},
        {"cannot grow past 32 bits", 0x90000000u, 0, {{G, 0}, {D, 0}}, 2, {0x90000000u}, 1, false},
    };
    for (const Row& row : rows) {
        uint32_t tried[16];
        int count = 0;
        bool result = GrowAndRetry(row.firstSize, row.tries, [&](uint32_t size, uint32_t* needed) {
            if (count == 16) return QueryStep::kFailed;
            tried[count] = size;
            const Answer& a = row.answers[count < row.answerCount ? count : row.answerCount - 1];
            ++count;
            *needed = a.needed;
            return a.step;
        });
        EXPECT_EQ(result, row.result) << row.what;
        ASSERT_EQ(count, row.sizeCount) << row.what;
        for (int i = 0; i < count; ++i) EXPECT_EQ(tried[i], row.sizes[i]) << row.what << " attempt " << i;
    }
}

// The owner deletes what it holds once, also after a move, and an array of
// owners moves them when it grows.
TEST(Owned, DeletesOnceAcrossMovesAndGrowth) {
    static int alive;
    struct Counted {
        Counted() { ++alive; }
        ~Counted() { --alive; }
    };
    alive = 0;
    {
        Array<Owned<Counted>> owners;
        for (int i = 0; i < 9; ++i) {
            Owned<Counted> one(new Counted);
            EXPECT_TRUE(owners.Add(static_cast<Owned<Counted>&&>(one))) << "item " << i;
            EXPECT_FALSE(one) << "item " << i;
        }
        EXPECT_EQ(alive, 9);
        owners.RemoveAt(3);
        EXPECT_EQ(alive, 8);
        Owned<Counted> moved(static_cast<Owned<Counted>&&>(owners[0]));
        EXPECT_EQ(alive, 8);
    }
    EXPECT_EQ(alive, 0);
}

}  // namespace

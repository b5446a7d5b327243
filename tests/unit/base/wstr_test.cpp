#include <gtest/gtest.h>

#include "base/array.h"
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

}  // namespace

#include <gtest/gtest.h>

#include "evaluation/version.h"

namespace {

VersionValue V(int32_t a, int32_t b = 0, int32_t c = 0, int32_t d = 0) {
    VersionValue v;
    v.part[0] = a;
    v.part[1] = b;
    v.part[2] = c;
    v.part[3] = d;
    return v;
}

::testing::AssertionResult PartsAre(const VersionValue& v, int32_t a, int32_t b, int32_t c, int32_t d) {
    if (v.part[0] == a && v.part[1] == b && v.part[2] == c && v.part[3] == d) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << v.part[0] << "." << v.part[1] << "." << v.part[2] << "." << v.part[3];
}

TEST(Version, Parse) {
    struct Case {
        const char16_t* text;
        int32_t parts[4];
        int32_t count;
        bool parsed;
    };
    const Case cases[] = {
        {u"1.2.3.4", {1, 2, 3, 4}, 4, true},
        {u"10", {10, 0, 0, 0}, 1, true},
        {u"4.8.04084", {4, 8, 4084, 0}, 3, true},
        {u"1..2", {1, 2, 0, 0}, 2, true},
        {u"1.2.3.4.5", {1, 2, 3, 4}, 4, true},
        {u"ver2.0", {2, 0, 0, 0}, 2, true},
        {u"Release4.5 beta", {4, 5, 0, 0}, 2, true},
        {u"build-17", {17, 0, 0, 0}, 1, true},
        {u"  6 - 1 / 7600 x 16385 y 99", {6, 1, 7600, 16385}, 4, true},
        {u"3.", {3, 0, 0, 0}, 1, true},
        {u"0.0.0.0", {0, 0, 0, 0}, 4, true},
        {u"", {0, 0, 0, 0}, 0, false},
        {u"no digits here", {0, 0, 0, 0}, 0, false},
        {u"\x0663.\x0664", {0, 0, 0, 0}, 0, false},  // only ASCII digits count
        // Largest part that fits, and the first ones that do not.
        {u"2147483647.1", {2147483647, 1, 0, 0}, 2, true},
        {u"2147483648.1", {0, 0, 0, 0}, 0, false},
        {u"2147483649", {0, 0, 0, 0}, 0, false},
        {u"1.2.99999999999", {0, 0, 0, 0}, 0, false},
        {u"1.2.3.4.99999999999", {1, 2, 3, 4}, 4, true},  // a fifth part is never read
        {u"00000000000000000001.2", {1, 2, 0, 0}, 2, true},
    };
    for (const Case& c : cases) {
        bool parsed = !c.parsed;
        VersionValue v = ParseVersion(WString(c.text), &parsed);
        SCOPED_TRACE(::testing::Message() << "case " << (&c - cases));
        EXPECT_TRUE(PartsAre(v, c.parts[0], c.parts[1], c.parts[2], c.parts[3]));
        EXPECT_EQ(v.count, c.count);
        EXPECT_EQ(parsed, c.parsed);
    }
    // The out flag is optional.
    EXPECT_TRUE(PartsAre(ParseVersion(WString(u"7.1")), 7, 1, 0, 0));
}

TEST(Version, Format) {
    struct Case {
        VersionValue value;
        const char16_t* text;
    };
    const Case cases[] = {
        {V(0), u"0.0.0.0"},
        {V(65535, 65535, 65535, 65535), u"0.0.0.0"},
        {V(5), u"5.0"},
        {V(1, 2, 3), u"1.2.3"},
        {V(0, 0, 0, 7), u"0.0.0.7"},
        {V(1, 65535), u"1.65535"},
        {V(1, 2, 65535, 65535), u"1.2"},
        {V(1, 0, 0, 4), u"1.0.0.4"},
        {V(0, 3), u"0.3"},
        {V(65535, 0, 3), u"65535.0.3"},
        {V(2147483647, 1), u"2147483647.1"},
        {V(-1, 2), u"-1.2"},
    };
    for (const Case& c : cases) {
        WString text = FormatVersion(c.value);
        EXPECT_TRUE(text == c.text) << "case " << (&c - cases);
    }
}

TEST(Version, CompareIsLexicographicAndSigned) {
    struct Case {
        VersionValue a, b;
        int sign;
    };
    const Case cases[] = {
        {V(1, 2, 3, 4), V(1, 2, 3, 4), 0},
        {V(1, 2, 3, 4), V(1, 2, 3, 5), -1},
        {V(2), V(1, 99, 99, 99), 1},
        {V(1, 10), V(1, 9), 1},
        {V(-1), V(0), -1},
        {V(0, 0, 0, 1), V(0), 1},
    };
    for (const Case& c : cases) {
        int result = CompareVersions(c.a, c.b);
        EXPECT_EQ((result > 0) - (result < 0), c.sign) << "case " << (&c - cases);
        int reverse = CompareVersions(c.b, c.a);
        EXPECT_EQ((reverse > 0) - (reverse < 0), -c.sign) << "case " << (&c - cases);
    }
    // The count of parts read plays no part.
    VersionValue a = V(3), b = V(3);
    a.count = 1;
    b.count = 4;
    EXPECT_EQ(CompareVersions(a, b), 0);
}

TEST(Version, RangeTests) {
    struct Case {
        VersionValue value, minimum, maximum;
        bool accept;
        bool walk;
    };
    const VersionValue none = V(0);
    const VersionValue all = V(65535, 65535, 65535, 65535);
    const Case cases[] = {
        {V(2), V(2), V(2, 5), true, true},
        {V(2, 5), V(2), V(2, 5), true, true},
        {V(2, 5, 0, 1), V(2), V(2, 5), false, false},
        {V(1, 9), V(2), V(2, 5), false, false},
        {V(3, 0, 0, 1), none, V(3), false, false},
        {V(3), none, V(3), true, true},
        {V(1), none, none, true, true},
        // 0.0.0.0 is no version for acceptance, an ordinary value for the walk.
        {none, none, none, false, true},
        {none, V(1), none, false, false},
        {none, none, V(1), false, true},
        // A bound of all 65535 is unset only for the walk.
        {V(9), none, all, true, true},
        {V(1), all, none, false, true},
        {V(70000), none, all, false, true},
        {V(5), V(4), none, true, true},
        {V(3), V(4), none, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "case " << (&c - cases));
        EXPECT_EQ(InRangeAccept(c.value, c.minimum, c.maximum), c.accept);
        EXPECT_EQ(InRangeWalk(c.value, c.minimum, c.maximum), c.walk);
    }
}

TEST(Version, TextBoundsFromConfiguration) {
    // Bounds come from VerMin/VerMax texts: a digit-free text is no bound.
    VersionValue minimum = ParseVersion(WString(u"2.0"));
    VersionValue maximum = ParseVersion(WString(u"n/a"));
    EXPECT_TRUE(InRangeAccept(ParseVersion(WString(u"14.0.23026")), minimum, maximum));
    EXPECT_FALSE(InRangeAccept(ParseVersion(WString(u"1.9.9")), minimum, maximum));
    // Round trip through text keeps the value.
    VersionValue original = ParseVersion(WString(u"10.0.19041.1"));
    EXPECT_EQ(CompareVersions(ParseVersion(FormatVersion(original)), original), 0);
}

}  // namespace

#include <gtest/gtest.h>

#include "evaluation/content_test.h"

namespace {

TEST(ContentTest, OperatorTable) {
    struct Case {
        const char16_t* content;
        const char16_t* ref;
        bool expected;
    };
    const Case cases[] = {
        // Contains / does not contain.
        {u"Version 4.8 Full", u"C4.8", true},
        {u"Version 4.8 Full", u"Cfull", false},  // case-sensitive
        {u"abc", u"C", true},                    // empty reference is contained
        {u"Version 4.8", u"X4.7", true},
        {u"Version 4.8", u"X4.8", false},
        // Starts with: the first occurrence must be at position 0.
        {u"abcabc", u"Sabc", true},
        {u"xabcabc", u"Sabc", false},
        // Ends with.
        {u"xabcabc", u"Eabc", true},
        {u"abcx", u"Eabc", false},
        {u"bc", u"Eabc", false},
        {u"abab", u"Eab", true},  // a later occurrence at the end counts
        // Equal / differ.
        {u"1.0", u"M1.0", true},
        {u"ABC", u"Mabc", false},
        {u"ABC", u"Dabc", true},
        // Numeric comparisons: digits only, empty is 0.
        {u"12", u"G10", true},
        {u"10", u"G10", false},
        {u"9", u"G10", false},
        {u"12a", u"G10", false},
        {u"-12", u"L10", false},
        {u" 12", u"G10", false},
        {u"1", u"G", true},
        {u"", u"G0", false},
        {u"", u"L1", true},
        {u"0010", u"G9", true},  // leading zeros do not make a number longer
        // Numbers wider than 64 bits still compare exactly.
        {u"123456789012345678901234567890", u"G123456789012345678901234567889", true},
        {u"4294967296", u"G4294967295", true},
        // Unknown and lower-case operator letters, empty reference.
        {u"abc", u"cabc", false},
        {u"abc", u"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ContentTestPasses(WString(c.content), WString(c.ref)), c.expected)
            << "ref index " << (&c - cases);
    }
}

TEST(ContentTest, EmbeddedNulsOfMultiStringTakePart) {
    // "one\0two": the second string is part of the content.
    const char16_t multi[] = {u'o', u'n', u'e', 0, u't', u'w', u'o'};
    WString content(multi, 7);
    EXPECT_TRUE(ContentTestPasses(content, WString(u"Ctwo")));
    EXPECT_TRUE(ContentTestPasses(content, WString(u"Etwo")));
    EXPECT_FALSE(ContentTestPasses(content, WString(u"Mone")));
    EXPECT_TRUE(ContentTestPasses(content, WString(u"Done")));
    EXPECT_FALSE(ContentTestPasses(content, WString(u"G1")));
}

}  // namespace

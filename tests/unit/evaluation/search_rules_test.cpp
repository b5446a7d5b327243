#include <gtest/gtest.h>

#include "evaluation/search_rules.h"

namespace {

Array<WString> Values(std::initializer_list<const char16_t*> texts) {
    Array<WString> values;
    for (const char16_t* t : texts) values.Add(WString(t));
    return values;
}

TEST(SearchRules, RangeTestOverFoundValues) {
    struct Case {
        std::initializer_list<const char16_t*> values;
        const char16_t* verMin;
        const char16_t* verMax;
        bool expected;
    };
    const Case cases[] = {
        {{}, u"", u"", false},
        {{}, u"1.0", u"", false},
        // No bound: any value at all, even one without digits or 0.0.0.0.
        {{u"0.0.0.0"}, u"", u"", true},
        {{u""}, u"", u"", true},
        {{u"abc"}, u"none", u"", true},
        // Bounds inclusive, unset bound not tested.
        {{u"0.0.0.0"}, u"1.0", u"", false},
        {{u"2.0"}, u"2.0", u"2.5", true},
        {{u"2.5.0.0"}, u"2.0", u"2.5", true},
        {{u"2.5.0.1"}, u"2.0", u"2.5", false},
        {{u"1.9.9999"}, u"2.0", u"", false},
        {{u"3.0.0.1"}, u"", u"3", false},
        {{u"3.0.0.0"}, u"", u"3", true},
        {{u"0.5"}, u"", u"3", true},
        // Names read as versions: letters before the first digit are skipped.
        {{u"Release2.0.50727", u"Release4.5"}, u"4.0", u"", true},
        {{u"Release2.0.50727", u"v3.5"}, u"4.0", u"", false},
        // Entries that read as 0.0.0.0 are skipped, later ones still count.
        {{u"none", u"0.0", u"5.1"}, u"5", u"6", true},
        {{u"none", u"0.0"}, u"", u"6", false},
        // An overflowing part makes the entry 0.0.0.0.
        {{u"12345678901.1"}, u"1", u"", false},
    };
    for (const Case& c : cases) {
        Array<WString> values = Values(c.values);
        SearchRange range{WString(c.verMin), WString(c.verMax)};
        EXPECT_EQ(FoundValuesAcceptable(values, range), c.expected) << "case " << (&c - cases);
    }
}

TEST(SearchRules, FileVersionCollectedPerRead) {
    // What one found file adds, and what a search of only that file answers
    // without a range and with VerMin 1.
    struct Case {
        FileVersionRead read;
        uint32_t ms, ls;
        const char16_t* collected;  // null: nothing
        bool foundWithoutRange, foundWithMinimum;
    };
    const Case cases[] = {
        {FileVersionRead::kRead, 0x00020005u, 0x0003FFFFu, u"2.5.3.65535", true, true},
        {FileVersionRead::kRead, 0u, 0u, u"0.0.0.0", true, false},
        {FileVersionRead::kNoResource, 0x00020005u, 1u, u"0.0.0.0", true, false},
        // Without version.dll the system cannot tell: never found.
        {FileVersionRead::kReaderMissing, 0x00020005u, 1u, nullptr, false, false},
    };
    for (const Case& c : cases) {
        WString text;
        Array<WString> values;
        if (CollectedFileVersion(c.read, c.ms, c.ls, &text)) values.Add(text);
        ASSERT_EQ(values.Size(), c.collected ? 1 : 0) << "case " << (&c - cases);
        if (c.collected) {
            EXPECT_TRUE(values[0] == WString(c.collected)) << "case " << (&c - cases);
        }
        EXPECT_EQ(FoundValuesAcceptable(values, SearchRange(WString(u""), WString(u""))), c.foundWithoutRange);
        EXPECT_EQ(FoundValuesAcceptable(values, SearchRange(WString(u"1"), WString(u""))), c.foundWithMinimum);
    }
}

TEST(SearchRules, DepthSuffix) {
    struct Case {
        const char16_t* text;
        const char16_t* path;
        const char16_t* suffix;
        int depth;
        bool pathLike;
    };
    const Case cases[] = {
        {u"app.exe", u"app.exe", u"", 0, false},
        {u"app.exe?1", u"app.exe", u"?1", 1, false},
        {u"app.exe?12x", u"app.exe", u"?12x", 12, false},
        {u"app.exe?", u"app.exe", u"?", 0, false},
        {u"app.exe?-3", u"app.exe", u"?-3", 0, false},
        {u"app.exe?2?5", u"app.exe", u"?2?5", 2, false},
        // A leading "?" is not a suffix.
        {u"?2", u"?2", u"", 0, false},
        {u"C:\\Tools\\app.exe?2", u"C:\\Tools\\app.exe", u"?2", 2, true},
        {u"[ProgramFilesFolder]Vendor\\app.exe", u"[ProgramFilesFolder]Vendor\\app.exe", u"", 0, true},
        {u"%TOOLS%app.exe", u"%TOOLS%app.exe", u"", 0, true},
        {u"!HKCU\\x\\y!", u"!HKCU\\x\\y!", u"", 0, true},
        {u"[Folder]", u"[Folder]", u"", 0, true},
        {u"", u"", u"", 0, false},
    };
    for (const Case& c : cases) {
        WString path, suffix;
        SplitDepthSuffix(WString(c.text), &path, &suffix);
        EXPECT_TRUE(path == c.path) << "case " << (&c - cases);
        EXPECT_TRUE(suffix == c.suffix) << "case " << (&c - cases);
        EXPECT_EQ(DepthOfSuffix(suffix), c.depth) << "case " << (&c - cases);
        EXPECT_EQ(IsPathLikeFileSearch(path), c.pathLike) << "case " << (&c - cases);
    }
}

TEST(SearchRules, CombinerStopsWhenDecided) {
    struct Case {
        int op;
        std::initializer_list<bool> found;
        int run;  // searches that run
        bool answer;
    };
    const Case cases[] = {
        {0, {}, 0, true},
        {1, {}, 0, false},
        {2, {}, 0, false},
        {0, {true, true, true}, 3, true},
        {0, {true, false, true}, 2, false},
        {0, {false, true}, 1, false},
        {1, {false, false, true, false}, 3, true},
        {1, {false, false}, 2, false},
        {1, {true, false}, 1, true},
        {2, {true, true, true}, 3, false},
        {-1, {true, false, true}, 3, false},
    };
    for (const Case& c : cases) {
        SearchCombiner combiner(c.op);
        int run = 0;
        for (bool found : c.found) {
            ++run;
            if (!combiner.Add(found)) break;
        }
        EXPECT_EQ(run, c.run) << "case " << (&c - cases);
        EXPECT_EQ(combiner.Answer(), c.answer) << "case " << (&c - cases);
    }
}

}  // namespace

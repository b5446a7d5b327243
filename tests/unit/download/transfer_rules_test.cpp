#include <gtest/gtest.h>

#include "download/transfer_rules.h"

namespace {

TEST(TransferRules, PercentDecodeOfCredentials) {
    struct Case {
        const char16_t* text;
        const char16_t* decoded;
    } cases[] = {
        {u"user%41", u"userA"},
        {u"%41%42c", u"ABc"},
        {u"p%zzw", u"p%zzw"},       // not hexadecimal: stays
        {u"p%4", u"p%4"},           // too short at the end
        {u"%", u"%"},
        {u"a%%41", u"a%A"},         // the first percent has no digits after it
        {u"%e9t%C3%A9", u"\u00e9t\u00c3\u00a9"},  // one character per byte, 0..255
        {u"%2540", u"%40"},         // decoded once only
        {u"plain", u"plain"},
        {u"", u""},
        {u"%3a%3A", u"::"},
    };
    for (const auto& c : cases) EXPECT_TRUE(PercentDecode(WString(c.text)) == c.decoded);
}

TEST(TransferRules, LeadingReplyCode) {
    struct Case {
        const char16_t* reply;
        uint32_t code;
    } cases[] = {
        {u"350 Restarting at 1000.\r\n", 350},
        {u"  350 ok", 350},
        {u"\t502 not here", 502},
        {u"502-first line\r\n502 end", 502},
        {u"", 0},
        {u"ready", 0},
        {u"-350", 0},
        {u"99999999999 overflow", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(LeadingReplyCode(WString(c.reply)), c.code);
}

TEST(TransferRules, ContentRange) {
    struct Case {
        const char16_t* value;
        bool ok;
        uint32_t first;
        uint32_t total;
    } cases[] = {
        {u"bytes 1000-4999/5000", true, 1000, 5000},
        {u"bytes 0-0/1", true, 0, 1},
        {u"bytes 1000-4999/*", true, 1000, 0},
        {u"  bytes 7-9/10  ", true, 7, 10},
        {u"bytes=1000-4999/5000", true, 1000, 5000},
        {u"bytes */5000", false, 0, 0},       // unsatisfied range
        {u"bytes 10-5/20", false, 0, 0},      // last before first
        {u"bytes 0-9/9", false, 0, 0},        // total not beyond last
        {u"bytes 0-9/", false, 0, 0},
        {u"items 0-9/10", false, 0, 0},
        {u"bytes 0-9/10x", false, 0, 0},
        {u"bytes 0-4294967296/4294967297", false, 0, 0},
        {u"", false, 0, 0},
    };
    for (const auto& c : cases) {
        uint32_t first = 77, total = 77;
        bool ok = ParseContentRange(WString(c.value), &first, &total);
        EXPECT_EQ(ok, c.ok);
        if (ok && c.ok) {
            EXPECT_EQ(first, c.first);
            EXPECT_EQ(total, c.total);
        } else {
            EXPECT_EQ(first, 77u);  // untouched on failure
        }
    }
}

TEST(TransferRules, AbsoluteTargets) {
    struct Case {
        const char16_t* path;
        bool absolute;
    } cases[] = {
        {u"C:\\dl\\setup.exe", true}, {u"C:", true},          {u"\\\\server\\share\\x", true},
        {u"\\\\?\\C:\\x", true},        {u"setup.exe", false}, {u"\\dl\\setup.exe", false},
        {u"C", false},                  {u"", false},          {u"dl\\C:", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsAbsoluteTargetPath(WString(c.path)), c.absolute);
}

TEST(TransferRules, StallGuardEndsReconnectionsWithoutProgress) {
    struct Case {
        uint32_t start;
        std::initializer_list<uint32_t> sizes;  // part size at each reconnection
        int allowed;                            // reconnections allowed before the refusal (-1: all)
    } cases[] = {
        // Nothing ever arrives: the seventh attempt is refused.
        {0, {0, 0, 0, 0, 0, 0, 0, 0}, 6},
        {100, {100, 100, 100, 100, 100, 100, 100}, 6},
        // Progress in between resets the count.
        {0, {10, 10, 10, 10, 10, 20, 20, 20, 20, 20, 20, 20}, 11},
        // Steady progress never stops.
        {0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, -1},
        // The first reconnection counts only what came after it.
        {50, {50, 60, 60, 60, 60, 60, 60, 60}, 7},
    };
    for (const auto& c : cases) {
        ReconnectStallGuard guard(c.start);
        int allowed = 0;
        bool refused = false;
        for (uint32_t size : c.sizes) {
            if (!guard.MayReconnect(size)) {
                refused = true;
                break;
            }
            ++allowed;
        }
        if (c.allowed < 0) {
            EXPECT_FALSE(refused);
        } else {
            EXPECT_TRUE(refused);
            EXPECT_EQ(allowed, c.allowed);
        }
    }
}

}  // namespace

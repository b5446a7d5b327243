#include <gtest/gtest.h>

#include <set>

#include "check/code_explanations.h"
#include "test_values.h"
#include "ui/progress_texts.h"

namespace {

TEST(ProgressTexts, BytesReadInTheUnitOfTheTotalWithTenthsCut) {
    struct Case {
        uint64_t done, total;
        const char* doneText;
        const char* totalText;
        ByteAmounts::Unit unit;
    };
    const uint64_t MiB = 1ull << 20, GiB = 1ull << 30;
    const Case cases[] = {
        {0, 0, "0.0", "0.0", ByteAmounts::kKilobytes},
        {512, 1023, "0.5", "0.9", ByteAmounts::kKilobytes},
        {MiB - 1, MiB - 1, "1023.9", "1023.9", ByteAmounts::kKilobytes},
        {MiB - 1, MiB, "0.9", "1.0", ByteAmounts::kMegabytes},  // not done yet: never reads 1.0 of 1.0
        {12 * MiB + MiB * 35 / 100, 48 * MiB, "12.3", "48.0", ByteAmounts::kMegabytes},
        {3000, 2048, "2.0", "2.0", ByteAmounts::kKilobytes},  // more than announced: held at the total
        {GiB, 0xFFFFFFFFull, "1.0", "3.9", ByteAmounts::kGigabytes},
        {0, 1ull << 40, "0.0", "3.9", ByteAmounts::kGigabytes},
    };
    for (const Case& c : cases) {
        ByteAmounts a = ByteAmountsOf(c.done, c.total);
        EXPECT_EQ(Printable(a.done), c.doneText) << c.done << " of " << c.total;
        EXPECT_EQ(Printable(a.total), c.totalText) << c.done << " of " << c.total;
        EXPECT_EQ(a.unit, c.unit) << c.done << " of " << c.total;
    }
}

TEST(ProgressTexts, BarIsTheItemsBeforePlusTheFractionOfTheCurrent) {
    struct Case {
        int32_t item;
        uint64_t done, total;
        int32_t position;
    };
    const Case cases[] = {
        {1, 0, 0, 1000},      // no size known: the item counts as done when it begins
        {1, 0, 100, 0},       {2, 50, 100, 1500}, {3, 1, 3, 2333},
        {1, 100, 100, 1000},  {1, 150, 100, 1000},
        {0, 50, 100, 500},    // before the first item: as the first
        {1, (1ull << 40) - 1, 1ull << 40, 999},
        {70000, 0, 0, 65535000},  // held at the dialog's item limit
    };
    for (const Case& c : cases)
        EXPECT_EQ(BarPosition(c.item, c.done, c.total), c.position) << c.item << ": " << c.done << " of " << c.total;
}

TEST(ProgressTexts, EveryExplainedCodeHasItsOwnString) {
    std::set<int> ids;
    for (int i = 0; i < kCodeExplanationCount; ++i) {
        int id = ResultTextId(kCodeExplanations[i].code);
        EXPECT_GE(id, 300) << kCodeExplanations[i].code;
        EXPECT_TRUE(ids.insert(id).second) << "string id used twice: " << id;
    }
    EXPECT_EQ(ResultTextId(0xE0000001u), 0);
}

}  // namespace

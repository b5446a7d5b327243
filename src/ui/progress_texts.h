// What the progress dialog's status line and bar are made of, apart from the
// texts themselves (those are in the string table): the string of a result
// code, a byte count as the line shows it, the bar's position within an item.
#pragma once

#include <stdint.h>

#include "base/wstr.h"

// The string id of a code's text (ui/result_texts.inc), or 0 when it has none.
int ResultTextId(uint32_t code);

// A transfer's progress as "12.3 of 48.0" in the unit the total calls for:
// kilobytes below one mebibyte, megabytes below one gibibyte, else gigabytes
// (units of 1024). Tenths are cut, not rounded, so the line reads the total
// only when the whole file is there.
struct ByteAmounts {
    enum Unit { kKilobytes = 0, kMegabytes = 1, kGigabytes = 2 };
    WString done;
    WString total;
    Unit unit;
};
ByteAmounts ByteAmountsOf(uint64_t done, uint64_t total);

// Bar steps per item: the range is items x this.
constexpr int32_t kBarStepsPerItem = 1000;
// The position while item `item` (1 = the first) has `done` of `total`
// bytes: the items before it plus its fraction. Without a total the item
// counts as done, as an item without bytes does.
int32_t BarPosition(int32_t item, uint64_t done, uint64_t total);

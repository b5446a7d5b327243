// What the progress dialog's status line and bar are made of, apart from the
// texts themselves (those are in the string table): the string of a result
// code, a byte count as the line shows it.
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

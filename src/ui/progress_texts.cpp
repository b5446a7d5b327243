#include "ui/progress_texts.h"

#include "download/result_codes.h"

namespace {
struct CodeText {
    uint32_t code;
    int id;
};
#define RESULT_TEXT(code, name, id, text) {code, id},
const CodeText kCodeTexts[] = {
#include "ui/result_texts.inc"
};
#undef RESULT_TEXT

WString Tenths(uint64_t bytes, uint64_t unit) {
    uint64_t tenths = bytes * 10 / unit;
    WString text;
    text.AppendUnsigned(tenths / 10);
    text.Append(u'.');
    text.Append(static_cast<char16_t>(u'0' + tenths % 10));
    return text;
}
}  // namespace

int ResultTextId(uint32_t code) {
    for (const CodeText& entry : kCodeTexts)
        if (entry.code == code) return entry.id;
    return 0;
}

ByteAmounts ByteAmountsOf(uint64_t done, uint64_t total) {
    // Sizes are 32-bit, so bytes x 10 cannot overflow; larger values are held.
    const uint64_t kLimit = 0xFFFFFFFFull;
    if (total > kLimit) total = kLimit;
    if (done > total) done = total;
    ByteAmounts amounts;
    uint64_t unit = 1024;
    amounts.unit = ByteAmounts::kKilobytes;
    if (total >= (1ull << 30)) {
        unit = 1ull << 30;
        amounts.unit = ByteAmounts::kGigabytes;
    } else if (total >= (1ull << 20)) {
        unit = 1ull << 20;
        amounts.unit = ByteAmounts::kMegabytes;
    }
    amounts.done = Tenths(done, unit);
    amounts.total = Tenths(total, unit);
    return amounts;
}

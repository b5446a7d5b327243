// Fuzzes version text: parsing never fails hard, and a parsed value survives
// the trip through its text form.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "evaluation/version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    WString text;
    for (size_t i = 0; i + 1 < size; i += 2) text.Append(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    // Also read the bytes as narrow text: version texts are mostly ASCII.
    WString narrow;
    for (size_t i = 0; i < size; ++i) narrow.Append(static_cast<char16_t>(data[i]));

    const WString* inputs[] = {&text, &narrow};
    for (const WString* input : inputs) {
        bool parsed = false;
        VersionValue value = ParseVersion(*input, &parsed);
        if (value.count < 0 || value.count > 4) abort();
        for (int i = 0; i < 4; ++i)
            if (value.part[i] < 0) abort();
        if (!parsed && !value.IsZero()) abort();

        WString formatted = FormatVersion(value);
        bool again = false;
        VersionValue back = ParseVersion(formatted, &again);
        if (!again) abort();
        // The text form drops trailing build and revision parts of 0 or
        // 65535 but always keeps major and minor; a value made only of such
        // parts reads back as 0.0.0.0.
        VersionValue expected = value;
        int last = 3;
        while (last >= 0 && (expected.part[last] == 0 || expected.part[last] == 65535)) --last;
        if (last < 0) expected = VersionValue();
        for (int i = 3; i > last && i >= 2; --i) expected.part[i] = 0;
        if (CompareVersions(back, expected) != 0) abort();

        VersionValue low = ParseVersion(narrow.Left(static_cast<int>(size / 2)));
        if (InRangeAccept(value, low, value) && CompareVersions(low, value) > 0 && !low.IsZero()) abort();
        if (!value.IsZero() && !InRangeAccept(value, value, value)) abort();
        InRangeWalk(value, low, value);
    }
    return 0;
}

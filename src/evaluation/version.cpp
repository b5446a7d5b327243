#include "evaluation/version.h"

namespace {

bool IsDigit(char16_t unit) { return unit >= u'0' && unit <= u'9'; }

// A bound of all zeros stands for "no bound".
bool IsUnsetBound(const VersionValue& bound) { return bound.IsZero(); }

// The folder walk also treats a bound of all 65535 as unset.
bool IsUnsetWalkBound(const VersionValue& bound) {
    return bound.IsZero() ||
           (bound.part[0] == 65535 && bound.part[1] == 65535 && bound.part[2] == 65535 && bound.part[3] == 65535);
}

bool WithinSetBounds(const VersionValue& value, const VersionValue& minimum, const VersionValue& maximum,
                     bool (*unset)(const VersionValue&)) {
    if (!unset(minimum) && CompareVersions(minimum, value) > 0) return false;
    if (!unset(maximum) && CompareVersions(value, maximum) > 0) return false;
    return true;
}

}  // namespace

// Every run of digits is one part, whatever separates the runs; text before
// the first digit is ignored. A part that would not fit in a signed 32-bit
// value fails the whole text: it never wraps into a negative part.
VersionValue ParseVersion(const WString& text, bool* parsed) {
    VersionValue value;
    if (parsed) *parsed = false;
    const char16_t* p = text.c_str();
    while (*p && !IsDigit(*p)) ++p;
    if (!*p) return value;
    int index = 0;
    for (;;) {
        int32_t part = 0;
        while (IsDigit(*p)) {
            int32_t digit = static_cast<int32_t>(*p - u'0');
            if (part > 214748364 || (part == 214748364 && digit > 7)) return VersionValue();
            part = part * 10 + digit;
            ++p;
        }
        value.part[index++] = part;
        value.count = index;
        if (index == 4) break;
        while (*p && !IsDigit(*p)) ++p;
        if (!*p) break;
    }
    if (parsed) *parsed = true;
    return value;
}

// Trailing parts of 0 or 65535 are left out, but major and minor are always
// written; a value with no other part is "0.0.0.0".
WString FormatVersion(const VersionValue& value) {
    int last = 3;
    while (last >= 0 && (value.part[last] == 0 || value.part[last] == 65535)) --last;
    if (last < 0) return WString(u"0.0.0.0");
    if (last < 1) last = 1;
    WString text;
    for (int i = 0; i <= last; ++i) {
        if (i) text.Append(u'.');
        text.AppendDecimal(value.part[i]);
    }
    return text;
}

int CompareVersions(const VersionValue& a, const VersionValue& b) {
    for (int i = 0; i < 4; ++i) {
        if (a.part[i] < b.part[i]) return -1;
        if (a.part[i] > b.part[i]) return 1;
    }
    return 0;
}

bool InRangeAccept(const VersionValue& value, const VersionValue& minimum, const VersionValue& maximum) {
    if (value.IsZero()) return false;
    return WithinSetBounds(value, minimum, maximum, IsUnsetBound);
}

bool InRangeWalk(const VersionValue& value, const VersionValue& minimum, const VersionValue& maximum) {
    return WithinSetBounds(value, minimum, maximum, IsUnsetWalkBound);
}

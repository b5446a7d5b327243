// Version values read from text, written back as text, and range tests.
#pragma once

#include <stdint.h>

#include "base/wstr.h"

struct VersionValue {
    int32_t part[4] = {0, 0, 0, 0};  // major, minor, build, revision
    int32_t count = 0;               // parts read from the text
    bool IsZero() const { return !part[0] && !part[1] && !part[2] && !part[3]; }
};

// parsed (optional) is true when at least one digit was found and no part overflowed.
VersionValue ParseVersion(const WString& text, bool* parsed = nullptr);
WString FormatVersion(const VersionValue& value);
// Lexicographic comparison of the four parts: <0, 0, >0.
int CompareVersions(const VersionValue& a, const VersionValue& b);
// Acceptance test: not 0.0.0.0 and within every set bound (inclusive).
bool InRangeAccept(const VersionValue& value, const VersionValue& minimum, const VersionValue& maximum);
// Folder-walk test: bounds of all 0 or all 65535 are unset; 0.0.0.0 is tested like any value.
bool InRangeWalk(const VersionValue& value, const VersionValue& minimum, const VersionValue& maximum);

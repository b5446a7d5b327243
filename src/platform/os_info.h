// The running Windows and its two names from fixed tables. The record and the
// names are portable.
#pragma once

#include <stdint.h>

#include "base/wstr.h"

struct OsInfo {
    uint32_t MajorVersion = 0;
    uint32_t MinorVersion = 0;
    uint32_t BuildNumber = 0;
    uint32_t ServicePackMajor = 0;
    char16_t ServicePackText[128] = {0};
    uint16_t ProductType = 1;
    uint16_t SuiteMask = 0;
    bool IsServer = false;
    bool Is64BitOs = false;
    uint32_t ReleaseId = 1507;
};

WString OsDetailedNameOf(const OsInfo& info);
WString OsGenericNameOf(const OsInfo& info);
// The registry values the identification reads, as found (have* false when
// a value is absent or unreadable). Portable, so that the interpretation of
// the values can be tested without the registry.
struct OsRegistryValues {
    bool haveMajorNumber = false;  // "CurrentMajorVersionNumber"
    uint32_t majorNumber = 0;
    bool haveMinorNumber = false;  // "CurrentMinorVersionNumber"
    uint32_t minorNumber = 0;
    bool haveCurrentVersion = false;
    WString currentVersion;
    bool haveBuildNumber = false;  // "CurrentBuildNumber"
    WString buildNumber;
    bool haveBuildBranch = false;
    WString buildBranch;
    bool haveReleaseId = false;
    WString releaseId;
    bool haveCsdVersion = false;
    WString csdVersion;
    bool haveProductType = false;
    WString productType;
    bool haveProductSuite = false;
    WString productSuite;  // REG_MULTI_SZ: strings separated by NULs
};
// Fills a fresh record from the values.
void BuildOsInfo(const OsRegistryValues& values, bool is64BitOs, OsInfo* info);

// Windows side (os_info_win.cpp): built once per process.
const OsInfo& GetOsInfo();
const WString& OsDetailedName();
const WString& OsGenericName();

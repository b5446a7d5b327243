#include <gtest/gtest.h>

#include <string>

#include "base/wstr.h"
#include "platform/os_info.h"
#include "platform/text_language.h"
#include "test_values.h"

namespace {

struct NameRow {
    uint32_t major, minor, build, sp;
    bool server, x64;
    const char* detailed;
    const char* generic;
};

// W: workstation, S: server; the last flag is the 64-bit system.
const NameRow kNameRows[] = {
    // 11.0
    {11, 0, 22000, 0, false, true, "Windows 11 version 21H2 x64", "Windows 11 x64"},
    {11, 0, 22000, 0, false, false, "Windows 11 version 21H2 x86", "Windows 11 x86"},
    {11, 0, 22000, 0, true, true, "Windows 11 version 21H2 x64", "Windows Server x64"},
    {11, 0, 22621, 0, true, true, "Windows Server x64", "Windows Server x64"},
    {11, 0, 22621, 0, true, false, "Windows 11 x86", "Windows 11 x86"},
    {11, 0, 22621, 0, false, true, "Windows 11 x64", "Windows 11 x64"},
    {11, 1, 22621, 0, false, true, "OsNotIdentified", "OsNotIdentified"},
    // 10.0, build by build
    {10, 0, 10240, 0, false, true, "Windows 10 version 1507 x64", "Windows 10 x64"},
    {10, 0, 10240, 0, false, false, "Windows 10 version 1507 x86", "Windows 10 x86"},
    {10, 0, 10586, 0, false, true, "Windows 10 version 1511 x64", "Windows 10 x64"},
    {10, 0, 10586, 0, true, false, "Windows 10 version 1511 x86", "Windows 10 x86"},
    {10, 0, 14393, 0, true, true, "Windows Server 2016 x64", "Windows Server x64"},
    {10, 0, 14393, 0, true, false, "Windows 10 version 1607 x86", "Windows 10 x86"},
    {10, 0, 14393, 0, false, true, "Windows 10 version 1607 x64", "Windows 10 x64"},
    {10, 0, 15063, 0, false, false, "Windows 10 version 1703 x86", "Windows 10 x86"},
    {10, 0, 16299, 0, false, true, "Windows 10 version 1709 x64", "Windows 10 x64"},
    {10, 0, 17134, 0, false, false, "Windows 10 version 1803 x86", "Windows 10 x86"},
    {10, 0, 17763, 0, true, true, "Windows Server 2019 x64", "Windows Server x64"},
    {10, 0, 17763, 0, false, true, "Windows 10 version 1809 x64", "Windows 10 x64"},
    {10, 0, 17763, 0, true, false, "Windows 10 version 1809 x86", "Windows 10 x86"},
    {10, 0, 18362, 0, false, true, "Windows 10 version 1903 x64", "Windows 10 x64"},
    {10, 0, 18363, 0, false, false, "Windows 10 version 1909 x86", "Windows 10 x86"},
    {10, 0, 19041, 0, false, true, "Windows 10 version 2004 x64", "Windows 10 x64"},
    {10, 0, 19042, 0, false, false, "Windows 10 version 20H2 x86", "Windows 10 x86"},
    {10, 0, 19043, 0, false, true, "Windows 10 version 21H1 x64", "Windows 10 x64"},
    {10, 0, 20348, 0, true, true, "Windows Server 2022 x64", "Windows Server x64"},
    {10, 0, 20348, 0, false, true, "Windows 10 version 21H2 x64", "Windows 10 x64"},
    {10, 0, 20348, 0, true, false, "Windows 10 version 21H2 x86", "Windows 10 x86"},
    {10, 0, 19044, 0, false, false, "Windows 10 version 21H2 x86", "Windows 10 x86"},
    {10, 0, 19044, 0, true, true, "Windows 10 version 21H2 x64", "Windows Server x64"},
    {10, 0, 19045, 0, true, true, "Windows Server x64", "Windows Server x64"},
    {10, 0, 19045, 0, false, true, "Windows 10 x64", "Windows 10 x64"},
    {10, 0, 22000, 0, false, false, "Windows 10 x86", "Windows 10 x86"},
    {10, 1, 19045, 0, false, true, "OsNotIdentified", "OsNotIdentified"},
    // 6.3 and 6.2
    {6, 3, 9600, 0, true, true, "Windows Server 2012 R2 x64", "Windows Server 2012 R2 x64"},
    {6, 3, 9600, 0, true, false, "Windows 8.1 x86", "Windows 8.1 x86"},
    {6, 3, 9600, 0, false, true, "Windows 8.1 x64", "Windows 8.1 x64"},
    {6, 2, 9200, 0, true, true, "Windows Server 2012 x64", "Windows Server 2012 x64"},
    {6, 2, 9200, 0, false, false, "Windows 8 x86", "Windows 8 x86"},
    {6, 2, 9200, 0, false, true, "Windows 8 x64", "Windows 8 x64"},
    // 6.1
    {6, 1, 7600, 0, true, true, "Windows Server 2008 R2 RTM x64", "Windows Server 2008 R2 x64"},
    {6, 1, 7601, 1, true, true, "Windows Server 2008 R2 SP1 x64", "Windows Server 2008 R2 x64"},
    {6, 1, 7601, 2, true, true, "Windows Server 2008 R2 x64", "Windows Server 2008 R2 x64"},
    {6, 1, 7600, 0, false, true, "Windows 7 RTM x64", "Windows 7 x64"},
    {6, 1, 7600, 0, true, false, "Windows 7 RTM x86", "Windows 7 x86"},
    {6, 1, 7601, 1, false, false, "Windows 7 SP1 x86", "Windows 7 x86"},
    {6, 1, 7601, 1, false, true, "Windows 7 SP1 x64", "Windows 7 x64"},
    {6, 1, 7601, 3, false, false, "Windows 7 x86", "Windows 7 x86"},
    // 6.0
    {6, 0, 6000, 0, true, false, "Windows Server 2008 RTM x86", "Windows Server 2008 x86"},
    {6, 0, 6001, 1, true, true, "Windows Server 2008 RTM x64", "Windows Server 2008 x64"},
    {6, 0, 6002, 2, true, false, "Windows Server 2008 SP2 x86", "Windows Server 2008 x86"},
    {6, 0, 6002, 2, true, true, "Windows Server 2008 SP2 x64", "Windows Server 2008 x64"},
    {6, 0, 6003, 3, true, true, "Windows Server 2008 x64", "Windows Server 2008 x64"},
    {6, 0, 6000, 0, false, false, "Windows Vista RTM x86", "Windows Vista x86"},
    {6, 0, 6001, 1, false, true, "Windows Vista SP1 x64", "Windows Vista x64"},
    {6, 0, 6002, 2, false, false, "Windows Vista SP2 x86", "Windows Vista x86"},
    {6, 0, 6003, 3, false, true, "Windows Vista x64", "Windows Vista x64"},
    // 5.2
    {5, 2, 3790, 1, true, false, "Windows Server 2003 SP1 x86", "Windows Server 2003 x86"},
    {5, 2, 3790, 2, true, true, "Windows Server 2003 SP2 x64", "Windows Server 2003 x64"},
    {5, 2, 3790, 0, true, false, "Windows Server 2003 x86", "Windows Server 2003 x86"},
    {5, 2, 3790, 1, false, true, "Windows XP SP1 x64", "Windows XP x64"},
    {5, 2, 3790, 2, false, false, "Windows XP SP2 x64", "Windows XP x64"},
    {5, 2, 3790, 0, false, true, "Windows XP x64", "Windows XP x64"},
    // 5.1 ignores server and bitness
    {5, 1, 2600, 1, false, false, "Windows XP SP1 x86", "Windows XP x86"},
    {5, 1, 2600, 2, true, true, "Windows XP SP2 x86", "Windows XP x86"},
    {5, 1, 2600, 3, false, true, "Windows XP SP3 x86", "Windows XP x86"},
    {5, 1, 2600, 0, false, false, "Windows XP x86", "Windows XP x86"},
    // Not in the tables
    {5, 0, 2195, 4, false, false, "OsNotIdentified", "OsNotIdentified"},
    {4, 0, 1381, 6, false, false, "OsNotIdentified", "OsNotIdentified"},
    {6, 4, 9800, 0, false, true, "OsNotIdentified", "OsNotIdentified"},
    {12, 0, 30000, 0, false, true, "OsNotIdentified", "OsNotIdentified"},
    {0, 0, 0, 0, false, false, "OsNotIdentified", "OsNotIdentified"},
};

TEST(OsNames, EveryRowOfBothTables) {
    for (const NameRow& row : kNameRows) {
        OsInfo info = Os(row.major, row.minor, row.build, row.sp, row.server, row.x64);
        SCOPED_TRACE(std::to_string(row.major) + "." + std::to_string(row.minor) + " build " +
                     std::to_string(row.build) + " sp" + std::to_string(row.sp) + (row.server ? " server" : "") +
                     (row.x64 ? " x64" : " x86"));
        EXPECT_EQ(Printable(OsDetailedNameOf(info)), row.detailed);
        EXPECT_EQ(Printable(OsGenericNameOf(info)), row.generic);
    }
}

// Builds a record from registry values as the identification reads them.
struct BuildRow {
    const char* what;
    OsRegistryValues values;
    bool is64;
    uint32_t major, minor, build, sp, releaseId;
    uint16_t productType, suiteMask;
    bool server;
};

OsRegistryValues Values(uint32_t major, uint32_t minor, const char16_t* build) {
    OsRegistryValues v;
    v.haveMajorNumber = v.haveMinorNumber = true;
    v.majorNumber = major;
    v.minorNumber = minor;
    if (build) {
        v.haveBuildNumber = true;
        v.buildNumber = build;
    }
    return v;
}

OsRegistryValues With(OsRegistryValues v, WString OsRegistryValues::*field, bool OsRegistryValues::*have,
                      const WString& text) {
    v.*field = text;
    v.*have = true;
    return v;
}

TEST(OsInfoBuild, InterpretsTheRegistryValues) {
    using V = OsRegistryValues;
    const char16_t multi[] = u"Enterprise\0Terminal Server\0terminal server\0Unknown\0\0";
    const char16_t allSuites[] =
        u"Small Business\0Enterprise\0BackOffice\0CommunicationServer\0Terminal Server\0"
        u"Small Business(Restricted)\0EmbeddedNT\0DataCenter\0Personal\0Blade\0Embedded(Restricted)\0"
        u"Security Appliance\0Storage Server\0Compute Server\0";
    const BuildRow rows[] = {
        {"nothing readable", V(), false, 0, 0, 0, 0, 1507, 1, 0, false},
        {"win10 numbers", Values(10, 0, u"19045"), true, 10, 0, 19045, 0, 1507, 1, 0, false},
        {"win11 co_release", With(Values(10, 0, u"22000"), &V::buildBranch, &V::haveBuildBranch, u"co_release"),
         true, 11, 0, 22000, 0, 1507, 1, 0, false},
        {"win11 any case", With(Values(10, 0, u"22631"), &V::buildBranch, &V::haveBuildBranch, u"RS_PreRelease"),
         false, 11, 0, 22631, 0, 1507, 1, 0, false},
        {"other branch stays 10", With(Values(10, 0, u"22631"), &V::buildBranch, &V::haveBuildBranch, u"ni_release"),
         true, 10, 0, 22631, 0, 1507, 1, 0, false},
        {"branch below 22000 ignored", With(Values(10, 0, u"21999"), &V::buildBranch, &V::haveBuildBranch, u"co_release"),
         true, 10, 0, 21999, 0, 1507, 1, 0, false},
        {"no branch", Values(10, 0, u"22000"), true, 10, 0, 22000, 0, 1507, 1, 0, false},
        {"branch with major 6", With(Values(6, 3, u"22000"), &V::buildBranch, &V::haveBuildBranch, u"co_release"),
         true, 6, 3, 22000, 0, 1507, 1, 0, false},
        {"text version", With(V(), &V::currentVersion, &V::haveCurrentVersion, u"6.1"), false, 6, 1, 0, 0, 1507, 1, 0, false},
        {"text version ignored when the number is there",
         With(Values(10, 0, nullptr), &V::currentVersion, &V::haveCurrentVersion, u"6.3"), false, 10, 0, 0, 0, 1507, 1, 0, false},
        {"text version of four units", With(V(), &V::currentVersion, &V::haveCurrentVersion, u"10.0"), false, 0, 0, 0, 0, 1507, 1, 0, false},
        {"text version not digits", With(V(), &V::currentVersion, &V::haveCurrentVersion, u"a.b"), false, 0, 0, 0, 0, 1507, 1, 0, false},
        {"build not a number", Values(6, 1, u"x7601"), false, 6, 1, 0, 0, 1507, 1, 0, false},
        {"release id", With(Values(10, 0, u"19041"), &V::releaseId, &V::haveReleaseId, u"2009"), false, 10, 0, 19041, 0, 2009, 1, 0, false},
        {"service pack 1", With(Values(6, 1, u"7601"), &V::csdVersion, &V::haveCsdVersion, u"Service Pack 1"), false, 6, 1, 7601, 1, 1507, 1, 0, false},
        {"service pack empty", With(Values(6, 1, u"7600"), &V::csdVersion, &V::haveCsdVersion, u""), false, 6, 1, 7600, 0, 1507, 1, 0, false},
        {"service pack beta", With(Values(6, 1, u"7600"), &V::csdVersion, &V::haveCsdVersion, u"Beta"), false, 6, 1, 7600, 0, 1507, 1, 0, false},
        {"workstation", With(V(), &V::productType, &V::haveProductType, u"WinNT"), false, 0, 0, 0, 0, 1507, 1, 0, false},
        {"server", With(V(), &V::productType, &V::haveProductType, u"ServerNT"), true, 0, 0, 0, 0, 1507, 3, 0, true},
        {"domain controller", With(V(), &V::productType, &V::haveProductType, u"LanmanNT"), false, 0, 0, 0, 0, 1507, 2, 0, true},
        {"product type case-sensitive", With(V(), &V::productType, &V::haveProductType, u"winnt"), false, 0, 0, 0, 0, 1507, 2, 0, true},
        {"suites", With(V(), &V::productSuite, &V::haveProductSuite, WString(multi, sizeof(multi) / 2 - 1)),
         false, 0, 0, 0, 0, 1507, 1, 0x0012, false},
        {"every suite", With(V(), &V::productSuite, &V::haveProductSuite, WString(allSuites, sizeof(allSuites) / 2 - 1)),
         false, 0, 0, 0, 0, 1507, 1, 0x7EFF, false},
    };
    for (const BuildRow& row : rows) {
        SCOPED_TRACE(row.what);
        OsInfo info;
        info.MajorVersion = 99;  // the build starts from a fresh record
        BuildOsInfo(row.values, row.is64, &info);
        EXPECT_EQ(info.MajorVersion, row.major);
        EXPECT_EQ(info.MinorVersion, row.minor);
        EXPECT_EQ(info.BuildNumber, row.build);
        EXPECT_EQ(info.ServicePackMajor, row.sp);
        EXPECT_EQ(info.ReleaseId, row.releaseId);
        EXPECT_EQ(info.ProductType, row.productType);
        EXPECT_EQ(info.SuiteMask, row.suiteMask);
        EXPECT_EQ(info.IsServer, row.server);
        EXPECT_EQ(info.Is64BitOs, row.is64);
    }
}

TEST(OsInfoBuild, ServicePackTextIsCutToItsField) {
    OsRegistryValues v;
    v.haveCsdVersion = true;
    for (int i = 0; i < 300; ++i) v.csdVersion.Append(u'x');
    v.csdVersion.Append(u'2');
    OsInfo info;
    BuildOsInfo(v, false, &info);
    EXPECT_EQ(WLen(info.ServicePackText), 127);
    EXPECT_EQ(info.ServicePackMajor, 2u);
    v.csdVersion = u"Service Pack 3";
    BuildOsInfo(v, false, &info);
    EXPECT_TRUE(WString(info.ServicePackText) == u"Service Pack 3");
}

}  // namespace

namespace {

TEST(TextLanguage, TheUsersLanguageItsFamilyOrEnglish) {
    const uint16_t shipped[] = {0x0409, 0x0407, 0x040C, 0x0C0A, 0x0410, 0x0416, 0x0411, 0x0804, 0x0419};
    const struct {
        uint16_t user, chosen;
    } cases[] = {
        {0x0407, 0x0407},  // German
        {0x0C07, 0x0407},  // German of Austria reads German
        {0x080A, 0x0C0A},  // Spanish of Mexico reads Spanish
        {0x040A, 0x0C0A},  // Spanish, traditional sort
        {0x0816, 0x0416},  // Portuguese of Portugal reads Brazilian Portuguese
        {0x1004, 0x0804},  // Chinese of Singapore writes Simplified
        {0x0404, 0x0409},  // Chinese of Taiwan writes Traditional: English
        {0x0C04, 0x0409},  // Hong Kong likewise
        {0x0809, 0x0409},  // English of the United Kingdom
        {0x0413, 0x0409},  // Dutch is not shipped
        {0x0000, 0x0409},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChooseTextLanguage(c.user, shipped, 9), c.chosen) << std::hex << c.user;
    // Only what the executable has: without German resources German reads English.
    EXPECT_EQ(ChooseTextLanguage(0x0407, shipped, 1), 0x0409);
    EXPECT_EQ(ChooseTextLanguage(0x0407, nullptr, 0), 0x0409);
}

}  // namespace

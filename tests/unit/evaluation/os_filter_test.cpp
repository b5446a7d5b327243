#include <gtest/gtest.h>

#include <string>

#include "base/wstr.h"
#include "evaluation/os_filter.h"
#include "test_values.h"

namespace {

struct FilterRow {
    const char* what;
    bool x64;
    const char16_t* winNT;
    const char16_t* winNT64;
    bool passes;
};

TEST(OsFilter, ListsOfExcludedSystems) {
    const char16_t kAll64[] = u"Windows XP/Vista/Windows 7/Windows 8 x64/Windows 8.1 x64/Windows 10 x64/Windows 11 x64";
    const char16_t kAll32[] = u"Windows 9x/ME/NT/2000/XP/Vista/Windows 7/Windows 8 x86/Windows 8.1 x86/Windows 10 x86";
    // The system under test: Windows 7 SP1, detailed "Windows 7 SP1 xNN", generic "Windows 7 xNN".
    const FilterRow rows[] = {
        {"empty lists", false, u"", u"", true},
        {"32-bit reads WinNTVersions", false, u"Windows 7 x86", u"", false},
        {"32-bit ignores WinNT64Versions", false, u"", u"Windows 7 x86", true},
        {"64-bit reads WinNT64Versions", true, u"", u"Windows 7 x64", false},
        {"64-bit ignores WinNTVersions", true, u"Windows 7 x64", u"", true},
        {"detailed name", false, u"Windows 7 SP1 x86", u"", false},
        {"comma and blank", false, u"Windows 7 x86, Windows 8 x86", u"", false},
        {"second entry", false, u"Windows 8 x86, Windows 7 x86", u"", false},
        {"comma alone is one entry", false, u"Windows 7 x86,Windows 8 x86", u"", true},
        {"nothing trimmed", false, u"Windows 8 x86,  Windows 7 x86", u"", true},
        {"trailing blank", false, u"Windows 7 x86 ", u"", true},
        {"case-sensitive", false, u"windows 7 x86", u"", true},
        {"other bitness", false, u"Windows 7 x64", u"", true},
        {"empty entries", false, u", , Windows 7 x86, ", u"", false},
        {"whole 64-bit list", true, u"", kAll64, false},
        {"whole 32-bit list", false, kAll32, u"", false},
        {"64-bit whole list in the 32-bit case", false, kAll64, u"", true},
        {"32-bit whole list in the 64-bit case", true, u"", kAll32, true},
    };
    for (const FilterRow& row : rows) {
        SCOPED_TRACE(row.what);
        OsInfo info = Os(6, 1, 7601, 1, false, row.x64);
        EXPECT_EQ(OsFilterPassesFor(info, OsDetailedNameOf(info), OsGenericNameOf(info), row.winNT, row.winNT64),
                  row.passes);
    }
}

TEST(OsFilter, ServerNamesAndUnidentifiedSystems) {
    OsInfo server2022 = Os(10, 0, 20348, 0, true, true);
    EXPECT_FALSE(OsFilterPassesFor(server2022, OsDetailedNameOf(server2022), OsGenericNameOf(server2022), u"",
                                   u"Windows 10 x64, Windows Server x64"));
    EXPECT_FALSE(OsFilterPassesFor(server2022, OsDetailedNameOf(server2022), OsGenericNameOf(server2022), u"",
                                   u"Windows Server 2022 x64"));
    EXPECT_TRUE(OsFilterPassesFor(server2022, OsDetailedNameOf(server2022), OsGenericNameOf(server2022), u"",
                                  u"Windows 10 x64"));
    OsInfo server32 = Os(10, 0, 20348, 0, true, false);
    EXPECT_FALSE(OsFilterPassesFor(server32, OsDetailedNameOf(server32), OsGenericNameOf(server32),
                                   u"Windows 10 x86", u""));
    OsInfo unknown = Os(5, 0, 2195, 4, false, false);
    EXPECT_FALSE(OsFilterPassesFor(unknown, OsDetailedNameOf(unknown), OsGenericNameOf(unknown),
                                   u"Windows XP x86, OsNotIdentified", u""));
    EXPECT_TRUE(OsFilterPassesFor(unknown, OsDetailedNameOf(unknown), OsGenericNameOf(unknown), u"Windows XP x86", u""));
}

TEST(LanguageList, AcceptsByLowSixteenBits) {
    struct Row {
        const char16_t* list;
        uint16_t language;
        bool accepts;
    } rows[] = {
        {u"", 1033, true},
        {u"1033;", 1033, true},
        {u"1033;1031;", 1031, true},
        {u"1033;1031;", 1036, false},
        {u"1033;1031;", 1033, true},
        // Text after the last ";" is never examined.
        {u"1033", 1033, false},
        {u"1036;1033", 1033, false},
        // Entries are lenient numbers, compared in their low 16 bits.
        {u" 1033;", 1033, true},
        {u"1033abc;", 1033, true},
        {u"66569;", 1033, true},
        {u"-64503;", 1033, true},
        {u";", 0, true},
        {u"x;", 0, true},
        {u";;;", 1033, false},
        {u"10 33;", 1033, false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(LanguageListAccepts(row.list, row.language), row.accepts) << Printable(row.list) << " " << row.language;
}

}  // namespace

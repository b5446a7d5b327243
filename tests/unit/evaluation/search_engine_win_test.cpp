// The search engine against the real registry, files and programs of the
// Wine prefix. Every key and file is created by the test itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "evaluation/search_engine_win.h"
#include "platform/win_util.h"

namespace {

const wchar_t kTestKey[] = L"Software\\CorvaneSearchTest";
const char16_t kKeyPath[] = u"HKCU\\Software\\CorvaneSearchTest";

std::u16string U(const WString& w) { return std::u16string(w.c_str(), static_cast<size_t>(w.Length())); }

SearchEntry Entry(int type, const WString& text, const char16_t* verMin = u"", const char16_t* verMax = u"",
                  const char16_t* ref = u"", const char16_t* cmdLine = u"") {
    SearchEntry e;
    e.SearchType = type;
    e.SearchString = text;
    e.VerMin = verMin;
    e.VerMax = verMax;
    e.RefContent = ref;
    e.SearchCmdLine = cmdLine;
    return e;
}

std::vector<std::u16string> ValuesOf(const SearchOutcome& outcome) {
    std::vector<std::u16string> values;
    for (const WString& v : outcome.FoundValues) values.push_back(U(v));
    return values;
}

void SetValue(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}

void SetText(HKEY key, const wchar_t* name, const wchar_t* text) {
    SetValue(key, name, REG_SZ, text, static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
}

class SearchRegistry : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        UniqueRegKey owner(key);
        SetText(key, nullptr, L"3.1");  // the default value
        SetText(key, L"Version", L"5.2.1");
        SetText(key, L"Text12a", L"12a");
        SetText(key, L"Empty", L"");
        DWORD twelve = 12;
        SetValue(key, L"Dword", REG_DWORD, &twelve, sizeof(twelve));
        const wchar_t multi[] = L"one\0two\0";
        SetValue(key, L"Multi", REG_MULTI_SZ, multi, sizeof(multi));
        const wchar_t expand[] = L"%TEMP%\\x";
        SetValue(key, L"Expand", REG_EXPAND_SZ, expand, sizeof(expand));
        const unsigned char binary[] = {'a', 0, 'b', 0};
        SetValue(key, L"Binary", REG_BINARY, binary, sizeof(binary));
        // A text stored without its terminating NUL.
        SetValue(key, L"Unterminated", REG_SZ, L"7.1", 3 * sizeof(wchar_t));
        // A text longer than the first 200-byte read.
        std::wstring longText(300, L'x');
        longText += L"tail";
        SetText(key, L"Long", longText.c_str());

        for (const wchar_t* sub : {L"Versions\\Release2.0.50727", L"Versions\\Release4.5", L"Versions\\NoDigits",
                                   L"Names", L"EmptyKey"}) {
            HKEY child = nullptr;
            ASSERT_EQ(RegCreateKeyExW(key, sub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
                      ERROR_SUCCESS);
            RegCloseKey(child);
        }
        // A subkey name of the longest length the registry allows.
        std::wstring longName = L"Versions\\" + std::wstring(252, L'v') + L"9.9";
        HKEY child = nullptr;
        ASSERT_EQ(RegCreateKeyExW(key, longName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(child);

        HKEY names = nullptr;
        ASSERT_EQ(RegOpenKeyExW(key, L"Names", 0, KEY_ALL_ACCESS, &names), ERROR_SUCCESS);
        SetText(names, L"1.0", L"");
        SetText(names, L"Build 2.5", L"");
        RegCloseKey(names);
    }
    static void TearDownTestSuite() { RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey); }

    static WString Path(const char16_t* rest) { return WString(kKeyPath) + rest; }
};

TEST_F(SearchRegistry, RootNames) {
    struct Case {
        const char16_t* path;
        bool exists;
    };
    const Case cases[] = {
        {u"HKCU\\Software\\CorvaneSearchTest", true},
        {u"HKEY_CURRENT_USER\\Software\\CorvaneSearchTest", true},
        {u"hkcu\\Software\\CorvaneSearchTest", true},
        {u"HKLM\\Software", true},
        {u"HKEY_LOCAL_MACHINE\\Software", true},
        {u"HKCR\\CLSID", true},
        {u"HKEY_CLASSES_ROOT\\CLSID", true},
        {u"HKCC\\Software", true},
        {u"HKEY_CURRENT_CONFIG\\Software", true},
        // Any other root text is HKEY_USERS.
        {u"HKU\\.DEFAULT", true},
        {u"HKEY_USERS\\.DEFAULT", true},
        {u"HKCUU\\.DEFAULT", true},
        {u"\\.DEFAULT", true},
        {u"HKCUU\\Software\\CorvaneSearchTest", false},
        // No backslash: no hive at all.
        {u"HKCU", false},
        {u"", false},
        {u"HKCU\\Software\\CorvaneSearchTest\\Missing", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RunSearch(Entry(kSearchRegistryKeyExists, c.path), false).Found, c.exists) << "case " << (&c - cases);
        EXPECT_EQ(RunSearch(Entry(kSearchRegistryKeyAbsent, c.path), false).Found, !c.exists)
            << "case " << (&c - cases);
        // The 64-bit view changes nothing for a key the test process sees.
        EXPECT_EQ(RunSearch(Entry(kSearchRegistryKeyExists, c.path), true).Found, c.exists) << "case " << (&c - cases);
    }
}

TEST_F(SearchRegistry, VersionCollectingTypes) {
    struct Case {
        int type;
        const char16_t* rest;
        const char16_t* verMin;
        const char16_t* verMax;
        bool found;
        std::vector<std::u16string> values;  // empty: not checked
        int valueCount;
    };
    const std::u16string longSubkey = std::u16string(252, u'v') + u"9.9";
    const Case cases[] = {
        {kSearchRegistryValueVersion, u"\\Version", u"", u"", true, {u"5.2.1"}, 1},
        {kSearchRegistryValueVersion, u"\\Version", u"5.3", u"", false, {u"5.2.1"}, 1},
        // A trailing backslash names the default value.
        {kSearchRegistryValueVersion, u"\\", u"3", u"3.1", true, {u"3.1"}, 1},
        {kSearchRegistryValueVersion, u"\\Unterminated", u"7", u"", true, {u"7.1"}, 1},
        // An empty text is a value all the same: found without bounds.
        {kSearchRegistryValueVersion, u"\\Empty", u"", u"", true, {u""}, 1},
        {kSearchRegistryValueVersion, u"\\Empty", u"1", u"", false, {u""}, 1},
        // A DWORD read as text: its raw bytes up to the first NUL.
        {kSearchRegistryValueVersion, u"\\Dword", u"", u"", true, {std::u16string(1, u'\x0C')}, 1},
        {kSearchRegistryValueVersion, u"\\Dword", u"1", u"", false, {}, 1},
        {kSearchRegistryValueVersion, u"\\Multi", u"", u"", true, {u"one"}, 1},
        {kSearchRegistryValueVersion, u"\\Missing", u"", u"", false, {}, 0},
        {kSearchRegistryValueVersion, u"Missing\\Version", u"", u"", false, {}, 0},
        // Subkey names read as versions; the letters before the digits are skipped.
        {kSearchRegistrySubkeys, u"\\Versions", u"4.0", u"", true, {}, 4},
        {kSearchRegistrySubkeys, u"\\Versions", u"4.6", u"9", false, {}, 4},
        {kSearchRegistrySubkeys, u"\\Versions", u"9.9", u"9.9", true, {}, 4},
        {kSearchRegistrySubkeys, u"\\EmptyKey", u"", u"", false, {}, 0},
        {kSearchRegistrySubkeys, u"\\Missing", u"", u"", false, {}, 0},
        // Value names read as versions.
        {kSearchRegistryValueNames, u"\\Names", u"2", u"", true, {u"1.0", u"Build 2.5"}, 2},
        {kSearchRegistryValueNames, u"\\Names", u"", u"0.9", false, {u"1.0", u"Build 2.5"}, 2},
        {kSearchRegistryValueNames, u"\\EmptyKey", u"", u"", false, {}, 0},
    };
    for (const Case& c : cases) {
        SearchOutcome outcome = RunSearch(Entry(c.type, Path(c.rest), c.verMin, c.verMax), false);
        EXPECT_EQ(outcome.Found, c.found) << "case " << (&c - cases);
        EXPECT_EQ(outcome.FoundValues.Size(), c.valueCount) << "case " << (&c - cases);
        if (!c.values.empty()) {
            std::vector<std::u16string> got = ValuesOf(outcome);
            std::sort(got.begin(), got.end());
            EXPECT_EQ(got, c.values) << "case " << (&c - cases);
        }
        EXPECT_TRUE(outcome.Content.IsEmpty());
    }
    std::vector<std::u16string> subkeys = ValuesOf(RunSearch(Entry(kSearchRegistrySubkeys, Path(u"\\Versions")), false));
    EXPECT_NE(std::find(subkeys.begin(), subkeys.end(), longSubkey), subkeys.end());
}

TEST_F(SearchRegistry, ValuePresenceAndContent) {
    struct Case {
        int type;
        const char16_t* rest;
        const char16_t* ref;
        bool found;
        const char16_t* content;  // null: not checked
    };
    const Case cases[] = {
        {kSearchRegistryValueExists, u"\\Version", u"", true, nullptr},
        {kSearchRegistryValueExists, u"\\", u"", true, nullptr},
        {kSearchRegistryValueExists, u"\\Missing", u"", false, nullptr},
        {kSearchRegistryValueExists, u"\\EmptyKey\\", u"", false, nullptr},
        {kSearchRegistryValueAbsent, u"\\Missing", u"", true, nullptr},
        {kSearchRegistryValueAbsent, u"Missing\\Version", u"", true, nullptr},
        {kSearchRegistryValueContent, u"\\Version", u"M5.2.1", true, u"5.2.1"},
        {kSearchRegistryValueContent, u"\\Dword", u"G10", true, u"12"},
        {kSearchRegistryValueContent, u"\\Text12a", u"G10", false, u"12a"},
        {kSearchRegistryValueContent, u"\\", u"M3.1", true, u"3.1"},
        // Environment references are not expanded.
        {kSearchRegistryValueContent, u"\\Expand", u"S%TEMP%", true, u"%TEMP%\\x"},
        {kSearchRegistryValueContent, u"\\Multi", u"Etwo", true, nullptr},
        {kSearchRegistryValueContent, u"\\Long", u"Etail", true, nullptr},
        // Values that cannot be read as text are not found, whatever the test.
        {kSearchRegistryValueContent, u"\\Binary", u"X", false, u""},
        {kSearchRegistryValueContent, u"\\Missing", u"X", false, u""},
        {kSearchRegistryValueContent, u"Missing\\Version", u"D", false, u""},
        {kSearchRegistryValueContent, u"\\Version", u"", false, u"5.2.1"},
    };
    for (const Case& c : cases) {
        SearchOutcome outcome = RunSearch(Entry(c.type, Path(c.rest), u"", u"", c.ref), false);
        EXPECT_EQ(outcome.Found, c.found) << "case " << (&c - cases);
        EXPECT_EQ(outcome.FoundValues.Size(), 0) << "case " << (&c - cases);
        if (c.content) {
            EXPECT_EQ(U(outcome.Content), std::u16string(c.content)) << "case " << (&c - cases);
        }
    }
    SearchOutcome multi = RunSearch(Entry(kSearchRegistryValueContent, Path(u"\\Multi"), u"", u"", u"C"), false);
    EXPECT_EQ(U(multi.Content), std::u16string(u"one\0two", 7));
    SearchOutcome longValue = RunSearch(Entry(kSearchRegistryValueContent, Path(u"\\Long"), u"", u"", u"C"), false);
    EXPECT_EQ(longValue.Content.Length(), 304);
}

TEST_F(SearchRegistry, OperatorsAndEarlyStop) {
    const WString present = Path(u"");
    const WString missing = Path(u"\\Missing");
    const SearchEntry yes = Entry(kSearchRegistryKeyExists, present);
    const SearchEntry no = Entry(kSearchRegistryKeyExists, missing);
    const SearchEntry unknown = Entry(13, u"anything");
    const SearchEntry negative = Entry(-1, u"");
    struct Case {
        int op;
        std::vector<SearchEntry> searches;
        bool answer;
        std::vector<bool> outcomes;
    };
    const Case cases[] = {
        {0, {}, true, {}},
        {1, {}, false, {}},
        {7, {}, false, {}},
        {0, {yes, yes, yes}, true, {true, true, true}},
        {0, {yes, no, yes}, false, {true, false}},
        {0, {no, yes}, false, {false}},
        {1, {no, no, yes, no}, true, {false, false, true}},
        {1, {no, no}, false, {false, false}},
        {2, {yes, no, yes}, false, {true, false, true}},
        {-5, {no, yes}, false, {false, true}},
        // Unknown types count as found.
        {0, {unknown, negative, yes}, true, {true, true, true}},
        {1, {no, unknown, no}, true, {false, true}},
    };
    for (const Case& c : cases) {
        Array<SearchEntry> searches;
        for (const SearchEntry& s : c.searches) searches.Add(s);
        Array<SearchOutcome> outcomes;
        outcomes.Add(SearchOutcome());  // left over from an earlier evaluation
        EXPECT_EQ(EvaluateSearches(searches, c.op, false, &outcomes), c.answer) << "case " << (&c - cases);
        std::vector<bool> got;
        for (const SearchOutcome& o : outcomes) got.push_back(o.Found);
        EXPECT_EQ(got, c.outcomes) << "case " << (&c - cases);
    }
}

// ---------------------------------------------------------------------------
// File versions: this test program carries the version 1.0.0.0.

class SearchFiles : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        root_ = std::wstring(temp) + L"corvane-search-" + std::to_wstring(GetCurrentProcessId());
        for (const wchar_t* dir : {L"", L"\\a", L"\\a\\deep", L"\\b"}) CreateDirectoryW((root_ + dir).c_str(), nullptr);
        Text(L"\\app.exe");
        Text(L"\\b\\app.exe");
        Versioned(L"\\a\\app.exe");
        Versioned(L"\\a\\deep\\app.exe");
        SetEnvironmentVariableW(L"CORVANE_SEARCH_ROOT", root_.c_str());
    }
    void TearDown() override {
        for (const wchar_t* file : {L"\\app.exe", L"\\b\\app.exe", L"\\a\\app.exe", L"\\a\\deep\\app.exe"})
            DeleteFileW((root_ + file).c_str());
        for (const wchar_t* dir : {L"\\a\\deep", L"\\a", L"\\b", L""}) RemoveDirectoryW((root_ + dir).c_str());
        SetEnvironmentVariableW(L"CORVANE_SEARCH_ROOT", nullptr);
    }
    void Text(const wchar_t* rest) {
        HANDLE h = CreateFileW((root_ + rest).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(h, "text", 4, &written, nullptr);
        CloseHandle(h);
    }
    void Versioned(const wchar_t* rest) {
        ASSERT_TRUE(CopyFileW(ModuleFileName().wc(), (root_ + rest).c_str(), FALSE));
    }
    WString Root(const wchar_t* rest) const { return WString((root_ + rest).c_str()); }
    std::wstring root_;
};

TEST_F(SearchFiles, WalkAndVersions) {
    struct Case {
        const wchar_t* rest;
        const char16_t* verMin;
        const char16_t* verMax;
        bool found;
        std::vector<std::u16string> values;
    };
    const Case cases[] = {
        // A file without a version resource: 0.0.0.0, found only without bounds.
        {L"\\app.exe", u"", u"", true, {u"0.0.0.0"}},
        {L"\\app.exe", u"1.0", u"", false, {u"0.0.0.0"}},
        {L"\\a\\app.exe", u"1.0", u"1.0", true, {u"1.0"}},
        {L"\\a\\app.exe", u"1.0.0.1", u"", false, {u"1.0"}},
        // Without bounds the walk stops at the first file, 0.0.0.0 included.
        {L"\\app.exe?2", u"", u"", true, {u"0.0.0.0"}},
        // The walk goes depth-first through the subfolders, as deep as asked.
        {L"\\app.exe?1", u"1.0", u"", true, {u"0.0.0.0", u"1.0"}},
        {L"\\app.exe?1", u"2.0", u"", false, {u"0.0.0.0", u"1.0", u"0.0.0.0"}},
        {L"\\app.exe?2", u"2.0", u"", false, {u"0.0.0.0", u"1.0", u"1.0", u"0.0.0.0"}},
        // Bounds of all 65535 count as unset for the early stop only.
        {L"\\app.exe?1", u"", u"65535.65535.65535.65535", false, {u"0.0.0.0"}},
        // Wildcards match, but the version is read from the pattern.
        {L"\\a\\*.exe", u"", u"", true, {u"0.0.0.0"}},
        {L"\\a\\*.exe", u"1.0", u"", false, {u"0.0.0.0"}},
        {L"\\missing.exe?3", u"", u"", false, {}},
        {L"\\nowhere\\app.exe?3", u"", u"", false, {}},
    };
    for (const Case& c : cases) {
        for (bool use64 : {false, true}) {
            SearchOutcome outcome = RunSearch(Entry(kSearchFileVersion, Root(c.rest), c.verMin, c.verMax), use64);
            EXPECT_EQ(outcome.Found, c.found) << "case " << (&c - cases);
            EXPECT_EQ(ValuesOf(outcome), c.values) << "case " << (&c - cases);
        }
    }
}

TEST_F(SearchFiles, ReferencesAreExpanded) {
    SearchOutcome outcome = RunSearch(Entry(kSearchFileVersion, u"%CORVANE_SEARCH_ROOT%\\a\\app.exe", u"1"), false);
    EXPECT_TRUE(outcome.Found);
    EXPECT_EQ(ValuesOf(outcome), std::vector<std::u16string>{u"1.0"});
    outcome = RunSearch(Entry(kSearchFileVersion, u"%CORVANE_SEARCH_ROOT%\\app.exe?1", u"1"), false);
    EXPECT_TRUE(outcome.Found);
    EXPECT_EQ(outcome.FoundValues.Size(), 2);
}

}  // namespace

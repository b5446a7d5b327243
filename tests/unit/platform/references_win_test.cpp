// Folder properties, environment and registry references on the machine the
// tests run on, compared with what the shell and the system report to this
// same process.
#include "platform/references.h"
#include "platform/references_win.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <string>

#include "platform/os_info.h"
#include "test_values.h"

namespace {

WString WithBackslash(WString path) {
    if (path.Last() != u'\\') path.Append(u'\\');
    return path;
}

WString ShellFolder(int csidl) {
    wchar_t buffer[MAX_PATH] = {0};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, buffer))) return WString();
    return WithBackslash(WString(buffer));
}

// First use from several threads at once: everyone sees the one value the
// first caller computed (the same shared string, not a copy of a second
// computation). Runs first in this file, before anything else asks.
TEST(SystemReferences, ConcurrentFirstUseComputesOnce) {
    struct Shared {
        volatile LONG ready = 0;
        HANDLE go = nullptr;
        const char16_t* folder[8] = {};
        const char16_t* detailed[8] = {};
        const OsInfo* info[8] = {};
    } shared;
    shared.go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    struct Arg {
        Shared* shared;
        int index;
    } args[8];
    HANDLE threads[8];
    for (int i = 0; i < 8; ++i) {
        args[i] = {&shared, i};
        threads[i] = CreateThread(
            nullptr, 0,
            [](void* p) -> DWORD {
                Arg* a = static_cast<Arg*>(p);
                InterlockedIncrement(&a->shared->ready);
                WaitForSingleObject(a->shared->go, INFINITE);
                WString folder;
                ResolveFolderProperty(u"SETUPEXEDIR", false, &folder);
                static_assert(sizeof(WString) == sizeof(void*), "a string is one shared pointer");
                a->shared->folder[a->index] = folder.c_str();
                a->shared->detailed[a->index] = OsDetailedName().c_str();
                a->shared->info[a->index] = &GetOsInfo();
                // Keep the copy alive until every thread has looked.
                Sleep(200);
                return 0;
            },
            &args[i], 0, nullptr);
        ASSERT_NE(threads[i], nullptr);
    }
    while (shared.ready < 8) Sleep(1);
    SetEvent(shared.go);
    WaitForMultipleObjects(8, threads, TRUE, 10000);
    for (int i = 0; i < 8; ++i) CloseHandle(threads[i]);
    CloseHandle(shared.go);
    for (int i = 1; i < 8; ++i) {
        EXPECT_EQ(shared.folder[i], shared.folder[0]) << "program folder computed more than once";
        EXPECT_EQ(shared.detailed[i], shared.detailed[0]) << "OS name computed more than once";
        EXPECT_EQ(shared.info[i], shared.info[0]);
    }
}

TEST(SystemReferences, EveryFolderNameMatchesTheShell) {
    struct Row {
        const char16_t* name;
        int csidl;
    } rows[] = {
        {u"ProgramFilesFolder", CSIDL_PROGRAM_FILES},
        {u"CommonFilesFolder", CSIDL_PROGRAM_FILES_COMMON},
        {u"DesktopFolder", CSIDL_DESKTOPDIRECTORY},
        {u"AllUsersDesktopFolder", CSIDL_COMMON_DESKTOPDIRECTORY},
        {u"AppDataFolder", CSIDL_APPDATA},
        {u"FavoritesFolder", CSIDL_FAVORITES},
        {u"StartMenuFolder", CSIDL_STARTMENU},
        {u"ProgramMenuFolder", CSIDL_PROGRAMS},
        {u"StartupFolder", CSIDL_STARTUP},
        {u"FontsFolder", CSIDL_FONTS},
        {u"LocalAppDataFolder", CSIDL_LOCAL_APPDATA},
        {u"CommonAppDataFolder", CSIDL_COMMON_APPDATA},
        {u"ProgramFiles", CSIDL_PROGRAM_FILES},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Printable(row.name));
        WString expected = ShellFolder(row.csidl);
        ASSERT_FALSE(expected.IsEmpty());
        WString value;
        ASSERT_TRUE(ResolveFolderProperty(row.name, false, &value));
        EXPECT_EQ(Printable(value), Printable(expected));
        // The view changes nothing for these.
        ASSERT_TRUE(ResolveFolderProperty(row.name, true, &value));
        EXPECT_EQ(Printable(value), Printable(expected));
    }
    // The names the author's checker accepts are exactly those that resolve.
    for (const char16_t* const* name = kFolderPropertyNames; *name; ++name) {
        WString value;
        EXPECT_TRUE(ResolveFolderProperty(*name, false, &value)) << Printable(*name);
    }
    WString value;
    EXPECT_FALSE(ResolveFolderProperty(u"ProgramFilesfolder", false, &value));
}

TEST(SystemReferences, SystemFoldersAndProgramFolder) {
    wchar_t buffer[MAX_PATH];
    GetSystemDirectoryW(buffer, MAX_PATH);
    WString system32 = WithBackslash(WString(buffer));
    GetWindowsDirectoryW(buffer, MAX_PATH);
    WString windows = WithBackslash(WString(buffer));
    GetTempPathW(MAX_PATH, buffer);
    WString temp(buffer);
    GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    WString program(buffer);
    program = program.Left(program.FindLastChar(u'\\') + 1);
    GetEnvironmentVariableW(L"ProgramW6432", buffer, MAX_PATH);
    WString programW6432 = WithBackslash(WString(buffer));

    struct Row {
        const char16_t* name;
        bool use64;
        WString expected;
    } rows[] = {
        {u"SystemFolder", true, ShellFolder(CSIDL_SYSTEM)},
        {u"SystemFolder", false, ShellFolder(CSIDL_SYSTEMX86)},
        {u"System32Folder", false, system32},
        {u"WindowsFolder", false, windows},
        {u"WindowsVolume", false, windows.Left(3)},
        {u"TempFolder", false, temp},
        {u"SETUPEXEDIR", false, program},
        {u"ProgramFiles64Folder", false, programW6432},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Printable(row.name));
        WString value;
        ASSERT_TRUE(ResolveFolderProperty(row.name, row.use64, &value));
        EXPECT_EQ(Printable(value), Printable(row.expected));
        EXPECT_EQ(value.Last(), u'\\');
    }
    EXPECT_NE(Printable(ShellFolder(CSIDL_SYSTEM)), Printable(ShellFolder(CSIDL_SYSTEMX86)))
        << "a 64-bit system has two system folders";
    EXPECT_EQ(windows.Left(3).Length(), 3);
}

TEST(SystemReferences, ProgramFiles64FallsBackToTheShellFolder) {
    wchar_t saved[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"ProgramW6432", saved, MAX_PATH);
    ASSERT_GT(n, 0u);
    SetEnvironmentVariableW(L"ProgramW6432", nullptr);
    WString value;
    bool found = ResolveFolderProperty(u"ProgramFiles64Folder", false, &value);
    SetEnvironmentVariableW(L"ProgramW6432", saved);
    ASSERT_TRUE(found);
    EXPECT_EQ(Printable(value), Printable(ShellFolder(CSIDL_PROGRAM_FILES)));
}

TEST(SystemReferences, UnknownNamesAreNotFound) {
    for (const char16_t* name : {u"UnknownFolder", u"programfilesfolder", u"", u"SystemFolder ", u"TEMP"}) {
        WString value = u"untouched";
        EXPECT_FALSE(ResolveFolderProperty(name, false, &value)) << Printable(name);
        EXPECT_TRUE(value == u"untouched");
    }
    EXPECT_TRUE(ExpandSystemReferences(u"[UnknownFolder]\\a.txt", false) == u"[UnknownFolder]\\a.txt");
}

TEST(SystemReferences, EnvironmentVariables) {
    std::wstring big(1000, L'v');
    SetEnvironmentVariableW(L"CORVANE_REF_BIG", big.c_str());
    SetEnvironmentVariableW(L"CORVANE_REF_EMPTY", L"");
    SetEnvironmentVariableW(L"CORVANE_REF_UNSET", nullptr);
    wchar_t temp[MAX_PATH];
    GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
    struct Row {
        const char16_t* text;
        WString expected;
    } rows[] = {
        {u"%TEMP%\\x", WString(temp) + u"\\x"},
        {u"%temp%\\x", WString(temp) + u"\\x"},  // the environment ignores case
        {u"%CORVANE_REF_UNSET%\\x", u"\\x"},
        {u"%CORVANE_REF_EMPTY%\\x", u"\\x"},
        {u"<%CORVANE_REF_BIG%>", u"<" + WString(reinterpret_cast<const char16_t*>(big.c_str())) + u">"},
        {u"50%", u"50%"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Printable(ExpandSystemReferences(row.text, false)), Printable(row.expected)) << Printable(row.text);
    SetEnvironmentVariableW(L"CORVANE_REF_BIG", nullptr);
    SetEnvironmentVariableW(L"CORVANE_REF_EMPTY", nullptr);
}

class RegistryReferences : public ::testing::Test {
protected:
    static constexpr const wchar_t* kKey = L"Software\\CorvaneRefsTest";
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(key_);
        RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    }
    void Set(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
        ASSERT_EQ(RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
    }
    HKEY key_ = nullptr;
};

TEST_F(RegistryReferences, ValueTypesAsText) {
    const wchar_t sz[] = L"D:\\Vendor\\";
    const wchar_t expand[] = L"%TEMP%\\x";
    const wchar_t multi[] = L"one\0two\0";
    const wchar_t unterminated[] = L"abc";
    DWORD dword = 0xFFFFFFFEu;
    DWORD small = 7;
    const BYTE binary[] = {1, 2, 3, 4};
    unsigned long long qword = 5;
    std::wstring longText;
    for (int i = 0; i < 150; ++i) longText += static_cast<wchar_t>(L'a' + i % 26);  // 300 bytes
    Set(L"sz", REG_SZ, sz, sizeof(sz));
    Set(L"expand", REG_EXPAND_SZ, expand, sizeof(expand));
    Set(L"multi", REG_MULTI_SZ, multi, sizeof(multi));
    Set(L"unterminated", REG_SZ, unterminated, 6);
    Set(L"dword", REG_DWORD, &dword, sizeof(dword));
    Set(L"small", REG_DWORD, &small, sizeof(small));
    Set(L"binary", REG_BINARY, binary, sizeof(binary));
    Set(L"qword", REG_QWORD, &qword, sizeof(qword));
    Set(L"long", REG_SZ, longText.c_str(), static_cast<DWORD>((longText.size() + 1) * 2));
    Set(L"", REG_SZ, L"default", 16);

    const char16_t multiExpected[] = u"one\0two";
    struct Row {
        const char16_t* text;
        WString expected;
    } rows[] = {
        {u"!HKCU\\Software\\CorvaneRefsTest\\sz!bin\\app.exe", u"D:\\Vendor\\bin\\app.exe"},
        {u"!HKEY_CURRENT_USER\\Software\\CorvaneRefsTest\\sz!", u"D:\\Vendor\\"},
        {u"!hkcu\\Software\\CorvaneRefsTest\\sz!", u"D:\\Vendor\\"},
        {u"!HKCU\\Software\\CorvaneRefsTest\\expand!", u"%TEMP%\\x"},
        {u"!HKCU\\Software\\CorvaneRefsTest\\multi!", WString(multiExpected, 7)},
        {u"!HKCU\\Software\\CorvaneRefsTest\\unterminated!", u"abc"},
        {u"!HKCU\\Software\\CorvaneRefsTest\\dword!", u"4294967294"},
        {u"!HKCU\\Software\\CorvaneRefsTest\\small!", u"7"},
        {u"!HKCU\\Software\\CorvaneRefsTest\\long!", WString(reinterpret_cast<const char16_t*>(longText.c_str()))},
        {u"!HKCU\\Software\\CorvaneRefsTest\\!", u"default"},
        {u"<!HKCU\\Software\\CorvaneRefsTest\\binary!>", u"<>"},
        {u"<!HKCU\\Software\\CorvaneRefsTest\\qword!>", u"<>"},
        {u"<!HKCU\\Software\\CorvaneRefsTest\\missing!>", u"<>"},
        {u"<!HKCU\\Software\\CorvaneRefsTestMissing\\sz!>", u"<>"},
        {u"<!HKLM\\Software\\CorvaneRefsTest\\sz!>", u"<>"},
        {u"<!NoBackslash!>", u"<>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Printable(row.text));
        WString got = ExpandSystemReferences(row.text, false);
        EXPECT_TRUE(got == row.expected) << Printable(got);
        EXPECT_TRUE(ExpandSystemReferences(row.text, true) == row.expected);
    }
}

TEST_F(RegistryReferences, ValuesLongerThanTheFirstBuffer) {
    struct Row {
        size_t units;
    } rows[] = {{98}, {99}, {100}, {101}, {4000}};
    for (const Row& row : rows) {
        std::wstring text;
        for (size_t i = 0; i < row.units; ++i) text += static_cast<wchar_t>(L'A' + i % 26);
        Set(L"v", REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
        WString got = ExpandSystemReferences(u"!HKCU\\Software\\CorvaneRefsTest\\v!", false);
        EXPECT_EQ(got.Length(), static_cast<int>(row.units));
        EXPECT_TRUE(got == WString(reinterpret_cast<const char16_t*>(text.c_str())));
    }
}

}  // namespace

#include "core/cleanup_rules.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

std::u16string S(const WString& text) { return std::u16string(text.c_str(), text.Length()); }

std::vector<std::u16string> V(const Array<WString>& list) {
    std::vector<std::u16string> out;
    for (const WString& item : list) out.push_back(S(item));
    return out;
}

// The files that "exist" in a test.
std::set<std::u16string> g_existing;
bool Exists(const WString& path) { return g_existing.count(S(path)) != 0; }

TEST(CleanupRules, RootAndBelow) {
    struct Case {
        const char16_t* path;
        const char16_t* folders;
        bool below;
    } cases[] = {
        {u"C:\\Pkg\\a.txt", u"C:\\Pkg", true},
        {u"C:\\Pkg\\a.txt", u"C:\\Pkg\\", true},  // a trailing backslash changes nothing
        {u"C:\\Pkg\\Sub\\a.txt", u"C:\\Pkg", true},
        {u"C:\\PkgOther\\a.txt", u"C:\\Pkg", false},  // a prefix that is not a folder
        {u"C:\\Pkg", u"C:\\Pkg", false},
        {u"C:\\Pkg\\", u"C:\\Pkg", false},
        {u"C:\\pkg\\a.txt", u"C:\\Pkg", true},  // letter case aside
        // Canonical paths: "." and ".." resolved, never climbing out.
        {u"C:\\Pkg\\..\\Windows\\x", u"C:\\Pkg", false},
        {u"C:\\Pkg\\Sub\\..\\..\\Windows\\x", u"C:\\Pkg", false},
        {u"C:\\Pkg\\Sub\\..\\a.txt", u"C:\\Pkg", true},
        {u"C:\\Pkg\\.\\a.txt", u"C:\\Pkg", true},
        {u"C:\\Pkg\\Sub\\..", u"C:\\Pkg", false},
        {u"C:\\Pkg\\..\\..\\..\\Pkg\\a.txt", u"C:\\Pkg", false},  // above the drive: refused
        {u"C:\\Pkg2\\x", u"C:\\Pkg", false},
        {u"C:\\Pkg\\x", u"C:\\Pkg\\Sub\\..", true},
        {u"C:/Pkg/a.txt", u"C:\\Pkg", true},
        {u"C:\\Pkg\\\\a.txt", u"C:\\Pkg", true},
        // Long-path and network forms are the same paths.
        {u"\\\\?\\C:\\Pkg\\a.txt", u"C:\\Pkg", true},
        {u"\\\\?\\C:\\Pkg\\..\\Windows\\x", u"C:\\Pkg", false},
        {u"\\\\?\\UNC\\srv\\share\\a", u"\\\\srv\\share", true},
        {u"\\\\srv\\share\\..\\other\\a", u"\\\\srv\\share", false},
        {u"\\\\.\\C:\\Pkg\\a.txt", u"C:\\Pkg", false},
        // What the system would read otherwise is refused: drive-relative,
        // trailing dots or blanks, streams.
        {u"C:Pkg\\a.txt", u"C:", false},
        {u"C:\\Pkg.\\..\\..\\Windows\\x", u"C:\\Pkg", false},
        {u"C:\\Pkg\\...\\x", u"C:\\Pkg", false},
        {u"C:\\Pkg\\a.txt:stream", u"C:\\Pkg", false},
        {u"C:\\Pkg\\a.txt", u"", false},
        {u"C:\\a.txt", u"C:\\", true},
        {u"\\\\srv\\share\\a", u"\\\\srv\\share", true},
        {u"a.txt", u"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsBelowCleanupRoot(WString(c.path), CleanupRoot(WString(c.folders))), c.below)
            << std::string(S(WString(c.path)).begin(), S(WString(c.path)).end());
}

TEST(CleanupRules, SplitsAtSeparatorRuns) {
    struct Case {
        const char16_t* text;
        std::vector<std::u16string> tokens;
    } cases[] = {
        {u"", {}},
        {u"\u0001\u0001", {}},
        {u"C:\\a", {u"C:\\a"}},
        {u"C:\\a\u0001C:\\b", {u"C:\\a", u"C:\\b"}},
        {u"\u0001C:\\a\u0001\u0001\u0001C:\\b\u0001", {u"C:\\a", u"C:\\b"}},
        {u"C:\\a b;c\u0001x", {u"C:\\a b;c", u"x"}},
    };
    for (const auto& c : cases) EXPECT_EQ(V(SplitCleanupFiles(WString(c.text))), c.tokens);
}

TEST(CleanupRules, BuildsFileListAndScriptPaths) {
    struct Case {
        const char* what;
        CleanupInputs in;
        std::vector<std::u16string> files;
        std::vector<std::u16string> script;
    } cases[] = {
        {"executable two levels below the root",
         {u"C:\\Work\\Pkg\\a.txt\u0001C:\\Work\\Pkg\\Sub\\b.txt", u"C:\\Work\\Pkg", u"C:\\Work\\Pkg\\clean.ps1",
          u"C:\\Work\\Pkg\\Sub\\setup.ini", u"C:\\Work\\Pkg\\Sub\\Deep\\setup.exe"},
         {u"C:\\Work\\Pkg\\a.txt", u"C:\\Work\\Pkg\\Sub\\b.txt", u"C:\\Work\\Pkg\\Sub\\setup.ini"},
         {u"C:\\Work\\Pkg\\clean.ps1", u"C:\\Work\\Pkg\\Sub\\Deep\\setup.exe", u"C:\\Work\\Pkg\\Sub\\Deep",
          u"C:\\Work\\Pkg\\Sub"}},
        {"trailing backslash on the root",
         {u"", u"C:\\Work\\Pkg\\", u"C:\\s.ps1", u"C:\\Work\\Pkg\\Sub\\setup.ini",
          u"C:\\Work\\Pkg\\Sub\\setup.exe"},
         {u"C:\\Work\\Pkg\\Sub\\setup.ini"},
         {u"C:\\s.ps1", u"C:\\Work\\Pkg\\Sub\\setup.exe", u"C:\\Work\\Pkg\\Sub"}},
        {"outside, relative, missing, sibling-prefixed files are dropped; the INI stays wherever it is",
         {u"C:\\Other\\x.txt\u0001rel.txt\u0001C:\\Work\\Pkg\\missing.txt\u0001C:\\Work\\PkgOld\\y.txt",
          u"C:\\Work\\Pkg", u"", u"D:\\elsewhere\\setup.ini", u"C:\\Work\\Pkg\\setup.exe"},
         {u"D:\\elsewhere\\setup.ini"},
         {u"C:\\Work\\Pkg\\setup.exe"}},
        {"no root: listed files go, no folder is added",
         {u"C:\\Other\\x.txt", u"", u"C:\\s.ps1", u"C:\\Work\\Pkg\\setup.ini", u"C:\\Work\\Pkg\\Sub\\setup.exe"},
         {u"C:\\Other\\x.txt", u"C:\\Work\\Pkg\\setup.ini"},
         {u"C:\\s.ps1", u"C:\\Work\\Pkg\\Sub\\setup.exe"}},
        {"executable outside the root",
         {u"", u"C:\\Work\\Pkg", u"C:\\s.ps1", u"C:\\Elsewhere\\setup.ini", u"C:\\Elsewhere\\A\\setup.exe"},
         {u"C:\\Elsewhere\\setup.ini"},
         {u"C:\\s.ps1", u"C:\\Elsewhere\\A\\setup.exe"}},
        {"root in another case is met",
         {u"", u"c:\\work\\pkg", u"C:\\s.ps1", u"C:\\Work\\Pkg\\setup.ini", u"C:\\Work\\Pkg\\Sub\\setup.exe"},
         {u"C:\\Work\\Pkg\\setup.ini"},
         {u"C:\\s.ps1", u"C:\\Work\\Pkg\\Sub\\setup.exe", u"C:\\Work\\Pkg\\Sub"}},
        {"listed files climbing out are dropped; those that stay are listed canonically",
         {u"C:\\Work\\Pkg\\..\\..\\x.txt\u0001C:\\Work\\Pkg\\Sub\\..\\a.txt\u0001\\\\?\\C:\\Work\\Pkg\\a.txt",
          u"C:\\Work\\Pkg", u"", u"C:\\Work\\Pkg\\setup.ini", u"C:\\Work\\Pkg\\setup.exe"},
         {u"C:\\Work\\Pkg\\a.txt", u"C:\\Work\\Pkg\\a.txt", u"C:\\Work\\Pkg\\setup.ini"},
         {u"C:\\Work\\Pkg\\setup.exe"}},
        {"duplicates ignoring case; the script inside the walked folders",
         {u"", u"C:\\W", u"C:\\W\\A\\SETUP.EXE", u"C:\\W\\A\\setup.ini", u"C:\\W\\A\\setup.exe"},
         {u"C:\\W\\A\\setup.ini"},
         {u"C:\\W\\A\\SETUP.EXE", u"C:\\W\\A"}},
        {"no script configured",
         {u"", u"C:\\W", u"", u"C:\\W\\setup.ini", u"C:\\W\\setup.exe"},
         {u"C:\\W\\setup.ini"},
         {u"C:\\W\\setup.exe"}},
        {"root is a drive",
         {u"C:\\x.txt", u"C:\\", u"", u"C:\\P\\setup.ini", u"C:\\P\\setup.exe"},
         {u"C:\\x.txt", u"C:\\P\\setup.ini"},
         {u"C:\\P\\setup.exe", u"C:\\P"}},
    };
    g_existing = {u"C:\\Work\\Pkg\\a.txt", u"C:\\Work\\Pkg\\Sub\\b.txt", u"C:\\Other\\x.txt", u"rel.txt",
                  u"C:\\Work\\PkgOld\\y.txt", u"C:\\x.txt"};
    for (const auto& c : cases) {
        Array<WString> files, script;
        BuildCleanupLists(c.in, Exists, &files, &script);
        EXPECT_EQ(V(files), c.files) << c.what;
        EXPECT_EQ(V(script), c.script) << c.what;
    }
}

TEST(CleanupRules, PrunesOnlyBelowTheRoot) {
    struct Case {
        const char16_t* file;
        const char16_t* folders;
        std::vector<std::u16string> pruned;
    } cases[] = {
        {u"C:\\R\\A\\B\\f.txt", u"C:\\R", {u"C:\\R\\A\\B", u"C:\\R\\A"}},
        {u"C:\\R\\A\\B\\f.txt", u"C:\\R\\", {u"C:\\R\\A\\B", u"C:\\R\\A"}},
        {u"C:\\R\\f.txt", u"C:\\R", {}},
        {u"C:\\R\\A\\f.txt", u"", {}},
        // A file outside the root (the INI may be anywhere) prunes nothing,
        // however long its folders are.
        {u"C:\\Somewhere\\Much\\Longer\\setup.ini", u"C:\\R", {}},
        {u"C:\\RR\\A\\f.txt", u"C:\\R", {}},
        {u"f.txt", u"C:\\R", {}},
        {u"C:\\R\\A\\..\\..\\Windows\\B\\f.txt", u"C:\\R", {}},
        {u"C:\\R\\A\\.\\B\\..\\f.txt", u"C:\\R", {u"C:\\R\\A"}},
    };
    for (const auto& c : cases) EXPECT_EQ(V(FoldersToPrune(WString(c.file), CleanupRoot(WString(c.folders)))), c.pruned);
}

}  // namespace

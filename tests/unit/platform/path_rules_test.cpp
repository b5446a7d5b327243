#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/path_rules.h"

namespace {

// head followed by filler 'a' units up to the given total length.
WString PathOfLength(const char16_t* head, int length) {
    WString path(head);
    while (path.Length() < length) path.Append(u'a');
    return path;
}

std::string Narrow(const WString& text) {
    std::string out;
    for (int i = 0; i < text.Length(); ++i) out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    return out;
}

enum Expect { kUnchanged, kDrivePrefix, kUncPrefix };

void CheckPrefix(WString (*add)(const WString&), const WString& path, Expect expect, const char* what) {
    WString result = add(path);
    switch (expect) {
        case kUnchanged:
            EXPECT_TRUE(result == path) << what << ": " << Narrow(result).substr(0, 20);
            break;
        case kDrivePrefix:
            EXPECT_TRUE(result == WString(u"\\\\?\\") + path) << what << ": " << Narrow(result).substr(0, 20);
            break;
        case kUncPrefix:
            EXPECT_TRUE(result == WString(u"\\\\?\\UNC\\") + path.Mid(2)) << what << ": " << Narrow(result).substr(0, 20);
            break;
    }
    // The prefix is never added twice, and removing it gives the path back.
    EXPECT_TRUE(add(result) == result) << what;
    EXPECT_TRUE(RemoveLongPrefix(result) == RemoveLongPrefix(path)) << what;
}

TEST(PathRules, LongPrefixVariants) {
    struct Case {
        const char16_t* head;
        int length;
        Expect finder, storage, remove;
    };
    const Case cases[] = {
        {u"C:\\x\\", 10, kUnchanged, kUnchanged, kUnchanged},
        {u"C:\\x\\", 247, kUnchanged, kUnchanged, kUnchanged},
        {u"C:\\x\\", 248, kUnchanged, kDrivePrefix, kUnchanged},
        {u"C:\\x\\", 259, kUnchanged, kDrivePrefix, kUnchanged},
        {u"C:\\x\\", 260, kDrivePrefix, kDrivePrefix, kDrivePrefix},
        {u"C:\\x\\", 32766, kDrivePrefix, kDrivePrefix, kDrivePrefix},
        {u"C:\\x\\", 32767, kUnchanged, kDrivePrefix, kDrivePrefix},
        {u"\\\\server\\share\\", 247, kUnchanged, kUnchanged, kUnchanged},
        {u"\\\\server\\share\\", 248, kUnchanged, kUncPrefix, kUnchanged},
        {u"\\\\server\\share\\", 314, kUncPrefix, kUncPrefix, kUncPrefix},
        // Relative paths never get a prefix; one that begins with UNC\ would
        // read as a network path.
        {u"relative\\", 300, kUnchanged, kUnchanged, kUnchanged},
        {u"\\rooted\\", 300, kUnchanged, kUnchanged, kUnchanged},
        {u"UNC\\server\\share\\", 260, kUnchanged, kUnchanged, kUnchanged},
        {u"UNC\\server\\share\\", 300, kUnchanged, kUnchanged, kUnchanged},
        // Already prefixed paths stay as they are.
        {u"\\\\?\\C:\\x\\", 300, kUnchanged, kUnchanged, kUnchanged},
        {u"\\\\?\\UNC\\server\\share\\", 300, kUnchanged, kUnchanged, kUnchanged},
        {u"\\\\?\\C:\\x\\", 20, kUnchanged, kUnchanged, kUnchanged},
    };
    for (const Case& c : cases) {
        WString path = PathOfLength(c.head, c.length);
        ASSERT_EQ(path.Length(), c.length);
        std::string what = Narrow(WString(c.head)) + " len " + std::to_string(c.length);
        CheckPrefix(AddLongPrefixForFinder, path, c.finder, (what + " finder").c_str());
        CheckPrefix(AddLongPrefixForStorage, path, c.storage, (what + " storage").c_str());
        CheckPrefix(AddLongPrefixForDelete, path, c.remove, (what + " delete").c_str());
    }
}

TEST(PathRules, RemoveLongPrefixAndNetworkTest) {
    struct Case {
        const char16_t* path;
        const char16_t* plain;
        bool network;
    };
    const Case cases[] = {
        {u"\\\\?\\UNC\\srv\\share\\f", u"\\\\srv\\share\\f", false},
        {u"\\\\?\\C:\\f", u"C:\\f", false},
        {u"\\\\srv\\share", u"\\\\srv\\share", true},
        {u"\\\\", u"\\\\", true},
        {u"C:\\f", u"C:\\f", false},
        {u"\\f", u"\\f", false},
        {u"", u"", false},
        {u"\\\\?", u"\\\\?", true},  // too short to be a prefix
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(RemoveLongPrefix(WString(c.path)) == c.plain) << Narrow(WString(c.path));
        EXPECT_EQ(IsNetworkPath(WString(c.path)), c.network) << Narrow(WString(c.path));
    }
}

TEST(PathRules, ParentAndFileName) {
    struct Case {
        const char16_t* path;
        const char16_t* parent;
        const char16_t* name;
    };
    const Case cases[] = {
        {u"C:\\a\\b.txt", u"C:\\a", u"b.txt"},
        {u"C:\\a\\", u"C:\\a", u""},
        {u"b.txt", u"", u"b.txt"},
        {u"\\\\srv\\share", u"\\\\srv", u"share"},
        {u"", u"", u""},
        {u"\\", u"", u""},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(ParentFolder(WString(c.path)) == c.parent) << Narrow(WString(c.path));
        EXPECT_TRUE(FileNameOfPath(WString(c.path)) == c.name) << Narrow(WString(c.path));
    }
}

TEST(PathRules, SplitPath) {
    struct Case {
        const char16_t* path;
        std::vector<const char16_t*> elements;
    };
    const Case cases[] = {
        {u"C:\\a\\b", {u"C:", u"a", u"b"}},
        {u"C:\\a\\\\b\\", {u"C:", u"a", u"", u"b", u""}},
        {u"C:\\", {u"C:", u""}},
        {u"C:", {u"C:"}},
        {u"\\\\srv\\share\\x", {u"\\\\srv", u"share", u"x"}},
        {u"\\\\srv", {u"\\\\srv"}},
        {u"\\\\?\\C:\\a", {u"\\\\?\\C:", u"a"}},
        {u"\\\\?\\UNC\\srv\\share\\x", {u"\\\\?\\UNC\\srv", u"share", u"x"}},
        {u"rel\\x", {u"rel", u"x"}},
        {u"\\x", {u"", u"x"}},
        {u"", {u""}},
    };
    for (const Case& c : cases) {
        Array<WString> elements = SplitPath(WString(c.path));
        ASSERT_EQ(elements.Size(), static_cast<int>(c.elements.size())) << Narrow(WString(c.path));
        for (int i = 0; i < elements.Size(); ++i)
            EXPECT_TRUE(elements[i] == c.elements[i]) << Narrow(WString(c.path)) << " element " << i;
    }
}

TEST(PathRules, NormalisePath) {
    struct Case {
        const char16_t* path;
        const char16_t* normalised;
    };
    const Case cases[] = {
        {u"C:\\a\\\\b\\", u"C:\\a\\b\\"},
        {u"C:\\a. \\b", u"C:\\a\\b"},
        {u"C:\\a\\b", u"C:\\a\\b"},
        {u"C:\\", u"C:\\"},
        {u"[TempFolder]\\Corvane\\", u"[TempFolder]Corvane\\"},
        {u"[ProgramFilesFolder]\\\\x", u"[ProgramFilesFolder]x"},
        {u"\\\\srv\\share\\\\dl\\", u"\\\\srv\\share\\dl\\"},
        {u"\\\\?\\UNC\\srv\\share\\x", u"\\\\?\\UNC\\srv\\share\\x"},
        {u"\\\\?\\C:\\x\\\\y", u"\\\\?\\C:\\x\\y"},
        {u"%TEMP%\\sub...\\", u"%TEMP%\\sub\\"},
        {u"C:\\dir\\file.txt  ", u"C:\\dir\\file.txt"},
        {u"", u""},
    };
    for (const Case& c : cases) {
        WString result = NormalisePath(WString(c.path));
        EXPECT_TRUE(result == c.normalised) << Narrow(WString(c.path)) << " -> " << Narrow(result);
        // Normalising twice changes nothing more.
        EXPECT_TRUE(NormalisePath(result) == result) << Narrow(WString(c.path));
    }
}

TEST(PathRules, RootAndAbsolute) {
    struct Case {
        const char16_t* path;
        const char16_t* root;
        bool absolute;
    };
    const Case cases[] = {
        {u"C:\\a\\b", u"C:\\", true},
        {u"C:", u"C:", true},
        {u"C:rel", u"C:r", true},
        {u"\\\\srv\\share\\a\\b", u"\\\\srv\\share", true},
        {u"\\\\srv\\share", u"\\\\srv\\share", true},
        {u"\\\\srv", u"\\\\srv", true},
        {u"\\\\?\\C:\\a", u"C:\\", true},
        {u"\\\\?\\UNC\\srv\\share\\a", u"\\\\srv\\share", true},
        {u"\\a", u"", false},
        {u"a\\b", u"", false},
        {u"C", u"", false},
        {u"\\", u"", false},
        {u"", u"", false},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(RootOfPath(WString(c.path)) == c.root) << Narrow(WString(c.path));
        EXPECT_EQ(IsAbsolutePath(WString(c.path)), c.absolute) << Narrow(WString(c.path));
    }
}

}  // namespace

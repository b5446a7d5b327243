#include <gtest/gtest.h>

#include "base/array.h"
#include "base/wstr.h"
#include "platform/references.h"

namespace {

// A resolver with a few fixed answers that records what it was asked.
class FakeResolver : public ReferenceResolver {
public:
    bool FolderProperty(const WString& name, bool use64BitView, WString* value) override {
        asked.Add(u"F:" + name);
        lastUse64 = use64BitView;
        if (name == u"ProgramFilesFolder") *value = u"C:\\Program Files (x86)\\";
        else if (name == u"SystemFolder") *value = use64BitView ? u"C:\\Windows\\system32\\" : u"C:\\Windows\\syswow64\\";
        else if (name == u"Nested") *value = u"[ProgramFilesFolder]%TEMP%!HKLM\\k\\v!";
        else if (name == u"") *value = u"<empty-folder>";
        else return false;
        return true;
    }
    WString EnvironmentVariable(const WString& name) override {
        asked.Add(u"E:" + name);
        if (name == u"TEMP") return u"C:\\Temp";
        if (name == u"PCT") return u"%TEMP%";
        return WString();
    }
    WString RegistryValue(const WString& path, bool use64BitView) override {
        asked.Add(u"R:" + path);
        lastUse64 = use64BitView;
        if (path == u"HKLM\\Software\\Vendor\\InstallDir") return use64BitView ? u"D:\\Vendor64\\" : u"D:\\Vendor\\";
        if (path == u"!") return u"<bang>";
        return WString();
    }
    Array<WString> asked;
    bool lastUse64 = false;
};

struct ExpandCase {
    const char16_t* input;
    const char16_t* expected;
};

void ExpectExpansions(const ExpandCase* cases, size_t count, bool use64BitView) {
    for (size_t i = 0; i < count; ++i) {
        FakeResolver resolver;
        WString got = ExpandReferences(cases[i].input, use64BitView, resolver);
        EXPECT_TRUE(got == cases[i].expected) << "case " << i;
    }
}

TEST(ExpandReferences, FolderProperties) {
    const ExpandCase cases[] = {
        {u"[ProgramFilesFolder]Vendor\\app.exe", u"C:\\Program Files (x86)\\Vendor\\app.exe"},
        {u"x[SystemFolder]y", u"xC:\\Windows\\syswow64\\y"},
        // An unknown name is copied with its brackets.
        {u"[UnknownFolder]\\a.txt", u"[UnknownFolder]\\a.txt"},
        {u"[programfilesfolder]", u"[programfilesfolder]"},
        // "[]" asks for the empty name.
        {u"a[]b", u"a<empty-folder>b"},
        // The closer search starts at the opener: "[" inside a name belongs to it.
        {u"[[ProgramFilesFolder]", u"[[ProgramFilesFolder]"},
        {u"[ProgramFilesFolder][ProgramFilesFolder]", u"C:\\Program Files (x86)\\C:\\Program Files (x86)\\"},
        // No closer: the rest is copied from the opener on, later references too.
        {u"a[ProgramFilesFolder", u"a[ProgramFilesFolder"},
        {u"%TEMP%[x%TEMP%", u"C:\\Temp[x%TEMP%"},
        {u"]ProgramFilesFolder[", u"]ProgramFilesFolder["},
    };
    ExpectExpansions(cases, sizeof(cases) / sizeof(cases[0]), false);
}

TEST(ExpandReferences, EnvironmentVariables) {
    const ExpandCase cases[] = {
        {u"%TEMP%\\x", u"C:\\Temp\\x"},
        {u"%UNSET_VARIABLE%\\x", u"\\x"},
        {u"100%", u"100%"},
        {u"a%b", u"a%b"},
        {u"%", u"%"},
        // "%%" names the empty variable, which is unset.
        {u"a%%b", u"ab"},
        {u"%TEMP%%TEMP%", u"C:\\TempC:\\Temp"},
        // Three percent signs: one reference, then an unpaired sign.
        {u"%TEMP%x%", u"C:\\Tempx%"},
        {u"%temp%", u""},
    };
    ExpectExpansions(cases, sizeof(cases) / sizeof(cases[0]), false);
}

TEST(ExpandReferences, RegistryValues) {
    const ExpandCase cases[] = {
        {u"!HKLM\\Software\\Vendor\\InstallDir!bin\\app.exe", u"D:\\Vendor\\bin\\app.exe"},
        {u"!HKLM\\missing\\v!tail", u"tail"},
        // The closer search starts two units after the opener.
        {u"!!!", u"<bang>"},
        {u"!!", u"!!"},
        {u"!", u"!"},
        {u"a!x", u"a!x"},
        {u"!x!", u""},
        {u"Hello!", u"Hello!"},
        {u"!!x", u"!!x"},
    };
    ExpectExpansions(cases, sizeof(cases) / sizeof(cases[0]), false);
}

TEST(ExpandReferences, MixedAndPlainTexts) {
    const ExpandCase cases[] = {
        {u"", u""},
        {u"plain text", u"plain text"},
        {u"[ProgramFilesFolder]%TEMP%!HKLM\\Software\\Vendor\\InstallDir!",
         u"C:\\Program Files (x86)\\C:\\TempD:\\Vendor\\"},
        // The first opener decides; a "%" inside a bracket name is part of it.
        {u"[%TEMP%]", u"[%TEMP%]"},
        {u"%[ProgramFilesFolder]%", u""},
        {u"!%TEMP%!", u""},
    };
    ExpectExpansions(cases, sizeof(cases) / sizeof(cases[0]), false);
}

TEST(ExpandReferences, ReplacementsAreNotScannedAgain) {
    struct Case {
        const char16_t* input;
        const char16_t* expected;
        int lookups;
    } cases[] = {
        {u"[Nested]", u"[ProgramFilesFolder]%TEMP%!HKLM\\k\\v!", 1},
        {u"%PCT%-%TEMP%", u"%TEMP%-C:\\Temp", 2},
    };
    for (const Case& c : cases) {
        FakeResolver resolver;
        EXPECT_TRUE(ExpandReferences(c.input, false, resolver) == c.expected) << "input case";
        EXPECT_EQ(resolver.asked.Size(), c.lookups);
    }
}

TEST(ExpandReferences, PassesTheViewToFoldersAndRegistry) {
    FakeResolver resolver;
    EXPECT_TRUE(ExpandReferences(u"[SystemFolder]", true, resolver) == u"C:\\Windows\\system32\\");
    EXPECT_TRUE(resolver.lastUse64);
    EXPECT_TRUE(ExpandReferences(u"!HKLM\\Software\\Vendor\\InstallDir!", true, resolver) == u"D:\\Vendor64\\");
    EXPECT_TRUE(ExpandReferences(u"!HKLM\\Software\\Vendor\\InstallDir!", false, resolver) == u"D:\\Vendor\\");
    EXPECT_FALSE(resolver.lastUse64);
}

TEST(ExpandReferences, NamesHandedToTheResolverAreExact) {
    FakeResolver resolver;
    ExpandReferences(u"a[ b ]c% d %e!HKCU\\k\\v !f", false, resolver);
    ASSERT_EQ(resolver.asked.Size(), 3);
    EXPECT_TRUE(resolver.asked[0] == u"F: b ");
    EXPECT_TRUE(resolver.asked[1] == u"E: d ");
    EXPECT_TRUE(resolver.asked[2] == u"R:HKCU\\k\\v ");
}

TEST(ExpandReferences, EmbeddedNulAndLongTexts) {
    FakeResolver resolver;
    const char16_t raw[] = {u'%', u'T', u'E', u'M', u'P', u'%', 0, u'x'};
    WString got = ExpandReferences(WString(raw, 8), false, resolver);
    const char16_t want[] = {u'C', u':', u'\\', u'T', u'e', u'm', u'p', 0, u'x'};
    EXPECT_TRUE(got == WString(want, 9));

    WString many;
    for (int i = 0; i < 2000; ++i) many.Append(u"%TEMP%|");
    got = ExpandReferences(many, false, resolver);
    EXPECT_EQ(got.Length(), 2000 * 8);
}

}  // namespace

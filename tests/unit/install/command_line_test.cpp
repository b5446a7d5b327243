#include "install/command_line.h"
#include "platform/path_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

WString W(const char16_t* text) { return WString(text); }
std::u16string S(const WString& text) { return std::u16string(text.c_str(), text.Length()); }

TEST(CommandLine, MsiExtensionIsFourCharactersAnyCase) {
    struct Case {
        const char16_t* path;
        bool msi;
    } cases[] = {
        {u"C:\\pkg\\SETUP.MSI", true},
        {u"C:\\pkg\\setup.msi", true},
        {u"C:\\pkg\\setup.MsI", true},
        {u"\\\\?\\C:\\pkg\\setup.msi", true},
        {u"C:\\pkg\\setup.msix", false},
        {u"C:\\pkg\\setup.ms", false},
        {u"C:\\pkg\\setupmsi", false},
        {u"C:\\pkg.msi\\setup", false},
        {u"C:\\pkg\\setup.msi.exe", false},
        {u".msi", true},
        {u"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(HasMsiExtension(W(c.path)), c.msi);
}

TEST(CommandLine, DirectLaunchLines) {
    struct Case {
        const char16_t* file;
        const char16_t* arguments;
        const char16_t* msiexec;
        const char16_t* program;
    } cases[] = {
        {u"C:\\p\\a.msi", u"/qn", u" /i \"C:\\p\\a.msi\" /qn", u"\"C:\\p\\a.msi\"  /qn"},
        {u"C:\\p\\a.msi", u"", u" /i \"C:\\p\\a.msi\"", u"\"C:\\p\\a.msi\" "},
        // An argument text that already begins with a blank keeps exactly one.
        {u"C:\\p\\a.msi", u" /qn", u" /i \"C:\\p\\a.msi\" /qn", u"\"C:\\p\\a.msi\"  /qn"},
        {u"C:\\p\\a.msi", u"  /qn", u" /i \"C:\\p\\a.msi\"  /qn", u"\"C:\\p\\a.msi\"   /qn"},
        // The prefix never reaches msiexec; a program keeps the path it was given.
        {u"\\\\?\\C:\\p\\a.msi", u"/q", u" /i \"C:\\p\\a.msi\" /q", u"\"\\\\?\\C:\\p\\a.msi\"  /q"},
        {u"\\\\?\\UNC\\srv\\s\\a.msi", u"", u" /i \"\\\\srv\\s\\a.msi\"", u"\"\\\\?\\UNC\\srv\\s\\a.msi\" "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(S(MsiexecCommandLine(W(c.file), W(c.arguments))), std::u16string(c.msiexec));
        EXPECT_EQ(S(ProgramCommandLine(W(c.file), W(c.arguments))), std::u16string(c.program));
    }
}

TEST(CommandLine, LongPrefixAndFolder) {
    struct Case {
        const char16_t* path;
        const char16_t* stripped;
        const char16_t* folder;
    } cases[] = {
        {u"\\\\?\\C:\\a\\b.exe", u"C:\\a\\b.exe", u"C:\\a"},
        {u"\\\\?\\unc\\srv\\share\\b.exe", u"\\\\srv\\share\\b.exe", u"\\\\srv\\share"},
        {u"\\\\srv\\share\\b.exe", u"\\\\srv\\share\\b.exe", u"\\\\srv\\share"},
        {u"C:\\b.exe", u"C:\\b.exe", u"C:"},
        {u"b.exe", u"b.exe", u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(S(RemoveLongPrefix(W(c.path))), std::u16string(c.stripped));
        EXPECT_EQ(S(FolderOfFile(W(c.path))), std::u16string(c.folder));
    }
}

TEST(CommandLine, CleanupPathsAreQuotedAndQuotesDoubled) {
    struct Case {
        Array<WString> paths;
        const char16_t* joined;
    };
    Case cases[4];
    cases[0].joined = u"";
    cases[1].paths.Add(W(u"C:\\a"));
    cases[1].paths.Add(W(u"C:\\b c"));
    cases[1].joined = u"'C:\\a','C:\\b c'";
    // A quote would otherwise end the literal and let the rest run as code.
    cases[2].paths.Add(W(u"C:\\Users\\O'Brien\\Downloads"));
    cases[2].paths.Add(W(u"C:\\x';Remove-Item C:\\ -Recurse;'"));
    cases[2].joined = u"'C:\\Users\\O''Brien\\Downloads','C:\\x'';Remove-Item C:\\ -Recurse;'''";
    cases[3].paths.Add(W(u"C:\\it\u2019s\\$env:TEMP\\`n"));
    cases[3].joined = u"'C:\\it\u2019\u2019s\\$env:TEMP\\`n'";
    for (const Case& c : cases) EXPECT_EQ(S(QuoteCleanupPaths(c.paths)), std::u16string(c.joined));
}

TEST(CommandLine, CleanupScriptParameters) {
    struct Case {
        const char16_t* script;
        const char16_t* paths;
        int32_t retries;
        const char16_t* parameters;
    } cases[] = {
        // The script is always called through the call operator on its
        // single-quoted name: a bare word would run code in the name.
        {u"C:\\T\\CV_1A.ps1", u"'C:\\a','C:\\b'", 10,
         u"-NonInteractive -NoLogo -ExecutionPolicy AllSigned -Command \"& 'C:\\T\\CV_1A.ps1' -paths 'C:\\a','C:\\b' "
         u"-retry_count 10\""},
        {u"C:\\T\\CV_2.ps1", u"'x'", -1,
         u"-NonInteractive -NoLogo -ExecutionPolicy AllSigned -Command \"& 'C:\\T\\CV_2.ps1' -paths 'x' -retry_count -1\""},
        {u"C:\\Users\\a$(calc)&b;{c}@`d\\CV_5.ps1", u"'x'", 10,
         u"-NonInteractive -NoLogo -ExecutionPolicy AllSigned -Command \"& 'C:\\Users\\a$(calc)&b;{c}@`d\\CV_5.ps1' "
         u"-paths 'x' -retry_count 10\""},
        {u"C:\\Users\\it\u2019s\\CV_6.ps1", u"'x'", 10,
         u"-NonInteractive -NoLogo -ExecutionPolicy AllSigned -Command \"& 'C:\\Users\\it\u2019\u2019s\\CV_6.ps1' "
         u"-paths 'x' -retry_count 10\""},
        // A temporary folder with a blank is called through the call operator.
        {u"C:\\Users\\John Smith\\Temp\\CV_3.ps1", u"'x'", 10,
         u"-NonInteractive -NoLogo -ExecutionPolicy AllSigned -Command \"& 'C:\\Users\\John Smith\\Temp\\CV_3.ps1' "
         u"-paths 'x' -retry_count 10\""},
        {u"C:\\Users\\O'Neil\\CV_4.ps1", u"'x'", 10,
         u"-NonInteractive -NoLogo -ExecutionPolicy AllSigned -Command \"& 'C:\\Users\\O''Neil\\CV_4.ps1' "
         u"-paths 'x' -retry_count 10\""},
    };
    for (const Case& c : cases) {
        WString command = CleanupCommandText(W(c.script), W(c.paths), c.retries);
        WString parameters = CleanupScriptParameters(W(u"AllSigned"), command);
        EXPECT_EQ(S(parameters), std::u16string(c.parameters));
    }
}

}  // namespace

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

// An elevated run never lets the shell's class handlers (which the user's
// own registry can name) choose what starts: programs directly, other types
// through the system's own program for them, anything else refused.
TEST(CommandLine, WhichLaunchAnElevatedRunUses) {
    const WString system = W(u"C:\\Windows\\system32\\");
    struct Case {
        const char16_t* file;
        bool elevated;
        LaunchMethod method;
        const char16_t* program;
        const char16_t* commandLine;
    } cases[] = {
        {u"C:\\d\\a.exe", false, LaunchMethod::Shell, u"", u""},
        {u"C:\\d\\a.zip", false, LaunchMethod::Shell, u"", u""},
        {u"C:\\d\\a.EXE", true, LaunchMethod::Direct, u"C:\\d\\a.EXE", u"\"C:\\d\\a.EXE\"  /q"},
        {u"C:\\d\\a.com", true, LaunchMethod::Direct, u"C:\\d\\a.com", u"\"C:\\d\\a.com\"  /q"},
        {u"C:\\d\\a.msi", true, LaunchMethod::Msiexec, u"C:\\Windows\\system32\\msiexec.exe", u" /i \"C:\\d\\a.msi\" /q"},
        {u"C:\\d\\a.msp", true, LaunchMethod::Msiexec, u"C:\\Windows\\system32\\msiexec.exe", u" /p \"C:\\d\\a.msp\" /q"},
        {u"C:\\d\\a.msu", true, LaunchMethod::Wusa, u"C:\\Windows\\system32\\wusa.exe",
         u"\"C:\\Windows\\system32\\wusa.exe\" \"C:\\d\\a.msu\" /q"},
        {u"C:\\d d\\a&b.cmd", true, LaunchMethod::Cmd, u"C:\\Windows\\system32\\cmd.exe",
         u"\"C:\\Windows\\system32\\cmd.exe\" /d /s /c \"\"C:\\d d\\a&b.cmd\" /q\""},
        {u"C:\\d\\a.bat", true, LaunchMethod::Cmd, u"C:\\Windows\\system32\\cmd.exe",
         u"\"C:\\Windows\\system32\\cmd.exe\" /d /s /c \"\"C:\\d\\a.bat\" /q\""},
        {u"C:\\d\\a.zip", true, LaunchMethod::Refused, u"", u""},
        {u"C:\\d\\a.vbs", true, LaunchMethod::Refused, u"", u""},
        {u"C:\\d.exe\\setup", true, LaunchMethod::Refused, u"", u""},
    };
    for (const Case& c : cases) {
        const LaunchMethod method = ChooseLaunchMethod(W(c.file), c.elevated);
        EXPECT_EQ(method, c.method) << S(W(c.file)).size();
        const DirectLaunch launch = ComposeDirectLaunch(method, system, W(c.file), W(u"/q"));
        EXPECT_EQ(S(launch.program), std::u16string(c.program));
        EXPECT_EQ(S(launch.commandLine), std::u16string(c.commandLine));
    }
}

// An elevated run opens a site with the handler the machine registers, its
// program told from the command as the registry holds it, never guessed.
TEST(CommandLine, HandlerCommands) {
    struct Case {
        const char16_t* command;
        bool composed;
        const char16_t* program;
        const char16_t* commandLine;
    } cases[] = {
        {u"\"C:\\P F\\b.exe\" \"%1\"", true, u"C:\\P F\\b.exe", u"\"C:\\P F\\b.exe\" \"http://h/x\""},
        {u"\"C:\\P F\\b.exe\" -osint -url %L", true, u"C:\\P F\\b.exe", u"\"C:\\P F\\b.exe\" -osint -url http://h/x"},
        {u"C:\\Program Files\\IE\\iexplore.EXE %1", true, u"C:\\Program Files\\IE\\iexplore.EXE",
         u"C:\\Program Files\\IE\\iexplore.EXE http://h/x"},
        {u"  C:\\w\\winebrowser.exe  ", true, u"C:\\w\\winebrowser.exe", u"C:\\w\\winebrowser.exe \"http://h/x\""},
        {u"C:\\a.exec\\b.exe %l", true, u"C:\\a.exec\\b.exe", u"C:\\a.exec\\b.exe http://h/x"},
        {u"\"C:\\unclosed.exe %1", false, u"", u""},
        {u"rundll32 url.dll,FileProtocolHandler %1", false, u"", u""},
        {u"", false, u"", u""},
    };
    for (const Case& c : cases) {
        DirectLaunch launch;
        EXPECT_EQ(ComposeHandlerLaunch(W(c.command), W(u"http://h/x"), &launch), c.composed) << S(W(c.command)).size();
        EXPECT_EQ(S(launch.program), std::u16string(c.program));
        EXPECT_EQ(S(launch.commandLine), std::u16string(c.commandLine));
    }
    EXPECT_EQ(S(UrlScheme(W(u"https://h/x"))), u"https");
    EXPECT_EQ(S(UrlScheme(W(u"ms-settings:windowsupdate"))), u"ms-settings");
    EXPECT_EQ(S(UrlScheme(W(u"C:\\x.htm"))), u"C");
    EXPECT_EQ(S(UrlScheme(W(u"1http://h"))), u"");
    EXPECT_EQ(S(UrlScheme(W(u"no scheme"))), u"");
    EXPECT_EQ(S(UrlScheme(W(u"ht tp://h"))), u"");
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

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "check/check_tables.h"
#include "check/code_explanations.h"
#include "check/config_checker.h"
#include "check/package_folder.h"
#include "config/ini_document.h"
#include "config/ini_path.h"

namespace {

// UTF-8 test text to the file's bytes: '|' is CR LF; a mark and UTF-16LE.
std::vector<uint8_t> IniBytes(const std::string& text) {
    std::vector<uint8_t> bytes = {0xFF, 0xFE};
    WString wide = FromUtf8(text.data(), text.size());
    for (int i = 0; i < wide.Length(); ++i) {
        char16_t c = wide[i];
        if (c == u'|') {
            for (char16_t u : {u'\r', u'\n'}) bytes.insert(bytes.end(), {static_cast<uint8_t>(u), 0});
        } else {
            bytes.push_back(static_cast<uint8_t>(c & 0xFF));
            bytes.push_back(static_cast<uint8_t>(c >> 8));
        }
    }
    return bytes;
}

struct Expect {
    int line;
    Severity severity;
    const char* fragment;
};

std::string Describe(const DiagnosticList& list) { return list.ToText(WString(u"t.ini")); }

bool Has(const DiagnosticList& list, const Expect& e) {
    for (const Diagnostic& d : list.Items())
        if (d.line == e.line && d.severity == e.severity && Utf8(d.message).find(e.fragment) != std::string::npos)
            return true;
    return false;
}

void ExpectExactly(const DiagnosticList& list, const std::vector<Expect>& expected, const std::string& what) {
    for (const Diagnostic& d : list.Items()) EXPECT_TRUE(IsRuleName(d.rule)) << what << "\n" << Utf8(d.message);
    int errors = 0, warnings = 0;
    for (const Expect& e : expected) {
        EXPECT_TRUE(Has(list, e)) << what << "\nmissing " << e.line << ": " << e.fragment << "\n" << Describe(list);
        errors += e.severity == Severity::kError;
        warnings += e.severity == Severity::kWarning;
    }
    EXPECT_EQ(list.Count(Severity::kError), errors) << what << "\n" << Describe(list);
    EXPECT_EQ(list.Count(Severity::kWarning), warnings) << what << "\n" << Describe(list);
}

const Severity E = Severity::kError, W = Severity::kWarning, N = Severity::kNote;

// Lines 1-7: a clean package of one prerequisite, which cases extend.
const std::string kBase =
    "[GeneralOptions]|Options=q|ExtractionFolder=[SETUPEXEDIR]|[PREREQUISITES]|App1=Runtime|[App1]|SetupFile=rt.exe|";

TEST(Checker, ConfigurationCases) {
    struct Case {
        std::string ini;
        std::vector<Expect> expected;
    };
    const std::vector<Case> cases = {
        // Clean packages.
        {kBase, {}},
        {kBase + "SearchType1=1|SearchString1=HKLM\\Software\\V|VerMin1=4.0|VerMax1=4.8|Operator=1|"
                 "SearchType2=9|SearchString2=HKCU\\Software\\V\\Build|RefContent2=G100|"
                 "WinNT64Versions=Windows 7 x64, Windows Server x64|LanguageList=1033;1031|"
                 "[PREREQ_CHAINER]|CleanupFolders=C:\\Pkg|CleanupFiles=C:\\Pkg\\a.txt\x01" "C:\\Pkg\\b.txt|",
         {{18, N, "deletes this INI"}}},
        // Structure.
        {"junk|" + kBase + "no equals|; comment|[App1]|SetupFile=x|[Extra]|[ GeneralOptions ]|",
         {{1, W, "before the first section"}, {9, W, "without \"=\""}, {10, N, "no comments"},
          {11, E, "repeats the one at line 7"}, {13, W, "unknown section [Extra]"},
          {14, W, "blanks inside the brackets are part of the section name ' GeneralOptions ': it is never read (did you mean 'GeneralOptions'?"}}},
        {kBase + "SetupFile=other.exe|setupfile=x|CommandLne=/q|Searchtype1=1|",
         {{8, E, "repeats line 7: this value ('other.exe') is never read"},
          {9, W, "did you mean 'SetupFile'? names are case-sensitive"}, {10, W, "did you mean 'CommandLine'?"},
          {11, E, "(did you mean 'SearchType1'? names are case-sensitive), so [App1] has no searches: 'Runtime' counts as "
                  "present on every machine and its setup never runs"}}},
        {kBase + "[App2]|SetupFile=b.exe|[GeneralOption]|",
         {{8, W, "PREREQUISITES has no key App2"}, {10, W, "did you mean 'GeneralOptions'?"}}},
        // The prerequisite list.
        {"[PREREQUISITES]|App1=A|App3=C|App4=D|[App1]|SetupFile=C:\\a.exe|[App3]|SetupFile=C:\\c.exe|[App4]|Url=https://h/d.exe|",
         {{3, E, "App2 is missing from PREREQUISITES: the list ends there; never loaded: 'C', 'D'"}, {0, N, "only evaluates"}}},
        {"[PREREQUISITES]|App1=A|App2=B|[App1]|SetupFile=C:\\a.exe|",
         {{3, E, "no section [App2] for 'B'"}}},
        {"[PREREQUISITES]|App1=A|App2=B|[App1]|Setup=C:\\a.exe|[App2]|SetupFile=C:\\b.exe|",
         {{4, E, "has no SetupFile, OpenSite or Url: the list ends here; never loaded: 'A', 'B'"}, {5, W, "unknown key 'Setup'"}}},
        {kBase + "SearchType1=5|SearchString1=HKLM\\Software\\X|SearchType2=5|",
         {{10, E, "SearchType2 has no SearchString2"}}},
        {kBase + "SearchType1=5|SearchString1=HKLM\\S|SearchType3=5|SearchString3=HKLM\\T|VerMin4=1|",
         {{10, E, "SearchType3 is never read: the searches end at the missing SearchType2"}, {12, W, "no SearchType4"}}},
        {kBase + "Url=https://h/rt.exe|OpenSite=https://h/|",
         {{8, W, "Url is never used: SetupFile"}, {9, W, "OpenSite is never used"}}},
        {kBase + "ParentPrereq=Runtme|[PREREQUISITES]|",
         {{8, W, "names no prerequisite (did you mean 'Runtime'?)"}, {9, W, "repeats the one at line 4"}}},
        {"[PREREQUISITES]|App1=A|App2=A|[App1]|SetupFile=C:\\a.exe|[App2]|SetupFile=C:\\b.exe|",
         {{3, W, "same name as App1"}}},
        // Values.
        {"[GeneralOptions]|Options=QB|KeepFiles=Complete|PackJars=yes|ExtUIStub=false|",
         {{2, W, "'Q' means nothing here (letters are case-sensitive: did you mean 'q'?)"},
          {2, W, "'B' means nothing"}, {2, N, "only evaluates"}, {3, W, "did you mean 'complete'"},
          {4, W, "reads as false"}, {5, W, "reads as true"}}},
        {kBase + "Options=mMz|ExactSize=12abc|Operator=2|MD5=abc|",
         {{8, W, "'M' means nothing here (letters are case-sensitive: did you mean 'm'?)"}, {8, W, "'z'"},
          {9, E, "'12abc' reads as 12: every setup file of another size is rejected before its launch"},
          {10, E, "neither 0 (all) nor 1 (any)"}, {11, E, "not 32 hexadecimal digits: every file is rejected before its launch"}}},
        {kBase + "ExactSize=99999999999999999999|Operator=x|",
         {{8, W, "out of range (64-bit): it reads as 18446744073709551615"}, {9, W, "holds no number: it reads as 0"}}},
        // ExactSize is read in 64 bits, as the chainer reads it.
        {kBase + "ExactSize=5368709120|", {}},
        {kBase + "ExactSize=-7|", {{8, W, "ExactSize -7 is negative: it reads as the size 4294967289 bytes"}}},
        {kBase + "SearchType1=13|SearchString1=x|",
         {{8, E, "SearchType 13 is unknown: it looks for nothing and counts as found"}}},
        {kBase + "SearchType1=9|SearchString1=HKLM\\S\\V|RefContent1=Q5|SearchType2=9|SearchString2=HKLM\\S\\V|"
                 "RefContent2=L1.5|SearchType3=9|SearchString3=HKLM\\S\\V|",
         {{10, E, "'Q' is not one of C X S E M D G L"}, {13, E, "decimal digits only"}, {14, E, "without a RefContent"}}},
        {kBase + "SearchType1=1|SearchString1=HKLM\\S|VerMin1=beta|VerMax1=99999999999|SearchType2=2|"
                 "SearchString2=HKLM\\S\\V|VerMin2=5.0|VerMax2=4.9|",
         {{10, W, "holds no digits: it sets no bound"}, {11, W, "overflows"}, {14, E, "5.0 is above VerMax2 4.9"}}},
        {kBase + "WinNTVersions=Windows 7 x86,Windows 8 x86, Windows 10 x64|WinNT64Versions=Windows 10 X64, Windows 8 x86|",
         {{8, W, "comma alone"}, {8, W, "a 64-bit Windows reads only WinNT64Versions"},
          {9, W, "no Windows is ever called 'Windows 10 X64': it excludes nothing (did you mean 'Windows 10 x64'?"},
          {9, W, "'Windows 8 x86' in WinNT64Versions never matches"}, {9, N, "Windows XP SP3 x86"}}},
        {kBase + "LanguageList=1033;en-US;70000|",
         {{8, W, "'en-US' is not a language number"}, {8, W, "'70000'"}}},
        {kBase + "SearchType1=5|SearchString1=HKLM|SearchType2=5|SearchString2=HKLMX\\Software|Operator=1|",
         {{9, E, "has no backslash"},
          {11, E, "registry root 'HKLMX' is unknown: the chainer reads HKEY_USERS\\Software, which no Windows has (did you "
                  "mean 'HKLM'?); SearchType 5 (RegistryKeyExists) is never found; so 'Runtime' counts as missing on every machine"}}},
        // References and paths.
        {kBase + "CommandLine=[ProgramFilesFoldr]x /q|NoUiCommandLine=[SETUPEXEDIR]x /q|BasicUiCommandLine=[Unclosed /q|",
         {{8, W, "unknown folder property [ProgramFilesFoldr] stays in the text (did you mean 'ProgramFilesFolder'?)"},
          {9, W, "[SETUPEXEDIR] in NoUiCommandLine reaches a setup of the package as written"}, {10, W, "unclosed '['"}}},
        {kBase + "NoUiCommandLine=/log \"%TEMP%\\rt.log\" !HKLM\\S\\V!|SearchType1=5|SearchString1=HKLM\\[Vendor]|"
                 "SearchType2=0|SearchString2=%ProgramFiles%\\rt.exe|[PREREQ_CHAINER]|LogFile=%TEMP%\\run.log|",
         {{8, W, "%TEMP% is not expanded in a setup's command line"}, {8, W, "!HKLM\\S\\V! is not expanded"},
          {10, W, "SearchString1 is used as written"}, {13, N, "deletes this INI"}, {14, W, "LogFile is used as written"},
          {14, W, "LogFile '%TEMP%\\run.log' is relative"}}},
        {"[GeneralOptions]|Options=q|ExtractionFolder=[SETUPEXEDIR]!nokey!|[PREREQUISITES]|App1=A|[App1]|"
         "SetupFile=[SETUPEXEDIR]a.exe|",
         {{3, W, "!nokey! has no backslash: it expands to nothing"}, {7, W, "SetupFile is used as written"}}},
        {"[GeneralOptions]|Options=b|[PREREQUISITES]|App1=A|[App1]|SetupFile=setup.exe|SearchType1=10|SearchString1=probe.exe|",
         {{6, W, "ExtractionFolder is unset"}, {8, W, "SearchType 10 is looked for in the temporary folder"}}},
        {kBase + "[App1x]|", {{8, W, "unknown section [App1x]"}}},
        {"[GeneralOptions]|Options=q|[PREREQUISITES]|App1=A|App2=B|App3=C|App4=D|App5=E|App6=F|"
         "[App1]|Url=https://h/a/|[App2]|Url=gopher://h/b.exe|[App3]|Url=https://h/x/yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy.exe|"
         "[App4]|Url=https://h/dl?id=5|[App5]|Url=https://h/a%20b%20c.exe|Folder=sub|[App6]|Url=https://h/%VERSION%/f.exe|",
         {{11, E, "gets no file name"}, {13, W, "scheme 'gopher'"}, {15, W, "cut to its last 41"},
          {17, W, "saved as 'id=5', not 'dl'"}, {19, W, "%20b% is read as an environment variable"}}},
        // Keys without effect where they stand.
        {kBase + "SearchType1=5|SearchString1=HKLM\\S|RefContent1=M1|SearchCmdLine1=/x|Options=ir|ParentPrereq=Runtime|",
         {{10, W, "RefContent1 is not read by SearchType 5 (RegistryKeyExists)"}, {11, W, "SearchCmdLine1 is not read"},
          {12, N, "searches are never run"}, {12, N, "does not make the prerequisite required"},
          {13, W, "names this prerequisite itself"}}},
        {"[PREREQUISITES]|App1=A|[App1]|OpenSite=https://h/|NoUiCommandLine=/q|Folder=x|",
         {{5, W, "NoUiCommandLine has no effect with OpenSite"}, {6, W, "Folder has no effect with OpenSite"}}},
        {"[GeneralOptions]|Options=b|ExtractionFolder=[SETUPEXEDIR]|ProductVersion=1.0|[PREREQUISITES]|App1=A|[App1]|"
         "SetupFile=a.exe|NoUiCommandLine=/q|CommandLine=/x|",
         {{4, N, "ProductVersion is carried"},
          {9, W, "launches the setup with BasicUiCommandLine, which is empty here: the setup runs without arguments "
                 "(NoUiCommandLine, CommandLine never reaches it)"}}},
        // What prerequisites share: download targets and part files, setup files, parents.
        {"[GeneralOptions]|Options=q|[PREREQUISITES]|App1=A|App2=B|App3=C|[App1]|Url=https://h/a/setup.exe|"
         "NoUiCommandLine=/log [TempFolder]a.log|[App2]|Url=https://h/b/setup.exe|[App3]|Url=https://h/c/x.exe|Folder=?setup.exe.part|",
         {{11, W, "App2 downloads to 'setup.exe', as App1 does (its file or its .part file): the chainer moves this "
                  "download to 'App2\\setup.exe'"},
          {13, W, "App3 downloads to 'setup.exe.part', as App1 does"}, {14, W, "Windows does not run as a setup"},
          {1, N, "downloads go straight into the user's temporary folder"}}},
        {"[PREREQUISITES]|App1=A|App2=B|[App1]|SetupFile=C:\\s.exe|ParentPrereq=B|[App2]|SetupFile=C:\\S.exe|ParentPrereq=A|",
         {{8, N, "runs the same setup file as App1"}, {6, N, "name each other as parent"}}},
        // Paths whose meaning depends on the current folder; digests.
        {"[GeneralOptions]|Options=q|DownloadFolder=dl|ExtractionFolder=pkg|[PREREQUISITES]|App1=A|[App1]|Url=https://h/a.zip|"
         "MD5=0123456789abcdefABCDEF0123456789|SHA256=0123|SearchType1=0|SearchString1=sub\\app.exe|",
         {{3, W, "DownloadFolder 'dl' is relative"}, {4, W, "ExtractionFolder 'pkg' is relative"},
          {8, W, "'a.zip', which Windows does not run as a setup"}, {10, E, "SHA256 '0123' is not 64 hexadecimal digits"},
          {12, W, "'sub\\app.exe' is a relative path"}}},
        // Publisher checks: thumbprints of 40 or 64 digits, names as the certificate shows them.
        {kBase + "SignerThumbprint=000102030405060708090a0b0c0d0e0f10111213 , "
                 "A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3B4B5B6B7B8B9BABBBCBDBEBF|SignerName=Contoso Ltd|",
         {}},
        {kBase + "SignerThumbprint=000102030405060708090a0b0c0d0e0f10111213,,00:11|SignerName=|",
         {{8, E, "has an empty item (a comma too many): every file is rejected"},
          {8, E, "'00:11' holds ':' (a thumbprint is 40 or 64 hexadecimal digits"}, {9, W, "SignerName is empty"}}},
        {kBase + "SignerThumbprint=\xe2\x80\x8e" "000102030405060708090a0b0c0d0e0f10111213, abc|"
                 "SignerName=CN=Contoso Ltd, O=Contoso|",
         {{8, E, "holds U+200E"}, {8, E, "'abc' has 3 hexadecimal digits, not 40 (SHA-1) or 64 (SHA-256)"},
          {9, W, "looks like a distinguished name"}}},
        {"[PREREQUISITES]|App1=A|[App1]|OpenSite=https://h/|SignerName=Contoso|SignerThumbprint=|",
         {{5, W, "SignerName has no effect with OpenSite"}, {6, W, "SignerThumbprint is empty"}}},
        {kBase + "[PREREQ_CHAINER]|CleanupFolders=C:\\Pkg\\|CleanupFiles=a.txt\x01" "D:\\b.txt\x01" "C:\\Pkg\\c.txt|",
         // A trailing backslash of CleanupFolders is no fault: the root is taken without it.
         {{8, N, "deletes this INI"}, {10, W, "'a.txt' is relative"},
          {10, W, "'D:\\b.txt' is not inside CleanupFolders"}}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = IniBytes(c.ini);
        ExpectExactly(CheckConfigurationFile(bytes.data(), bytes.size(), CheckOptions()), c.expected, c.ini);
    }
}

// Every message of every severity, notes included.
void ExpectAll(const DiagnosticList& list, const std::vector<Expect>& expected, const std::string& what) {
    ExpectExactly(list, expected, what);
    int notes = 0;
    for (const Expect& e : expected) notes += e.severity == Severity::kNote;
    EXPECT_EQ(list.Count(Severity::kNote), notes) << what << "\n" << Describe(list);
}

// Lines 1-9: a clean package whose one prerequisite its search finds where it
// is installed; cases extend its section from line 10.
const std::string kPkg = "[GeneralOptions]|Options=q|ExtractionFolder=[SETUPEXEDIR]|[PREREQUISITES]|App1=Runtime|[App1]|"
                         "SetupFile=rt.exe|SearchType1=7|SearchString1=HKLM\\Software\\Rt\\Installed|";
// Lines 1-14: two such prerequisites; a adds lines to App1 after line 10 (b
// follows in App2).
std::string Two(const std::string& a, const std::string& b) {
    return "[GeneralOptions]|Options=q|ExtractionFolder=[SETUPEXEDIR]|[PREREQUISITES]|App1=Runtime|App2=Tools|[App1]|"
           "SetupFile=rt.exe|SearchType1=7|SearchString1=HKLM\\Software\\Rt\\Installed|" + a +
           "[App2]|SetupFile=tools.exe|SearchType1=7|SearchString1=HKLM\\Software\\Tools\\Installed|" + b;
}

// What the run does with a prerequisite on a machine that lacks it and on one
// that has it, where that cannot be what the author meant; each faulty
// package beside its correct twin, which stays silent (notes counted too).
TEST(Checker, PredictedEffects) {
    struct Case {
        std::string ini;
        std::vector<Expect> expected;
    };
    const std::string base = "[GeneralOptions]|Options=q|ExtractionFolder=[SETUPEXEDIR]|[PREREQUISITES]|App1=Runtime|[App1]|";
    const std::vector<Case> cases = {
        {kPkg, {}},
        {Two("", ""), {}},
        // Outcomes that cannot depend on the machine.
        {base + "SetupFile=rt.exe|",
         {{6, N, "[App1] has no searches (SearchType1, SearchString1, ...): 'Runtime' counts as present on every machine "
                 "and its setup never runs"}}},
        {base + "SetupFile=rt.exe|SearchType0=7|SearchString0=HKLM\\Software\\Rt\\Installed|",
         {{8, E, "search keys are numbered from 1, without leading zeros: SearchType0 is never read, so [App1] has no "
                 "searches: 'Runtime' counts as present on every machine and its setup never runs"},
          {9, W, "SearchString0 is never read"}}},
        {base + "SetupFile=rt.exe|Operator=1|",
         {{8, W, "Operator=1 with no searches (SearchType1, SearchString1, ...) finds nothing: 'Runtime' counts as missing "
                 "on every machine, also where it is installed: its setup runs on every run"}}},
        {kPkg + "Operator=1|", {}},
        {kPkg + "Options=m|SearchType2=3|SearchString2=12345678-1234-1234-1234-123456789012|",
         {{12, E, "is not a product code in the form Windows Installer knows ({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, with "
                  "the braces): the installer rejects it and SearchType 3 (MsiProductVersion) is never found; so 'Runtime' "
                  "counts as missing on every machine, also where it is installed: its setup runs on every run, and as it "
                  "is still missing afterwards every run ends with 1"}}},
        {kPkg + "Options=m|SearchType2=3|SearchString2={12345678-1234-1234-1234-123456789012}|", {}},
        {base + "SetupFile=rt.exe|SearchType1=6|SearchString1=HKLM|",
         {{9, E, "registry path 'HKLM' has no backslash: it names no key; SearchType 6 (RegistryKeyAbsent) is found on "
                 "every machine; so 'Runtime' counts as present on every machine and its setup never runs"}}},
        {base + "SetupFile=rt.exe|SearchType1=6|SearchString1=HKLM\\Software\\Rt\\Old|", {}},
        {kPkg + "SearchType2=8|SearchString2=HKLM|",
         {{11, E, "SearchType 8 (RegistryValueAbsent) is found on every machine; under Operator 0 it never makes the "
                  "prerequisite missing"}}},
        {kPkg + "Operator=1|SearchType2=0|SearchString2=C:/Program Files/Rt/rt.exe|SearchType3=0|"
                "SearchString3=[ProgramFilesFolder]Rt\\|SearchType4=0|SearchString4=[ProgramFilesFolder]Rt\\*.dll|VerMin4=1.0|",
         {{12, E, "has no backslash: the chainer takes it for a bare file name and looks for it in the root of every "
                  "fixed drive (C:\\C:/Program Files/Rt/rt.exe)"},
          {14, E, "names a folder: the search looks for a file and is never found (name the file whose version counts); "
                  "under Operator 1 it never makes the prerequisite present"},
          {16, E, "has a wildcard: a matching file is found, but its version is read from the name with the wildcard"}}},
        {kPkg + "Operator=1|SearchType2=0|SearchString2=C:\\Program Files\\Rt\\rt.exe|SearchType3=0|"
                "SearchString3=[ProgramFilesFolder]Rt\\rt.exe|SearchType4=0|SearchString4=[ProgramFilesFolder]Rt\\*.dll|",
         {}},
        {kPkg + "SearchType2=10|SearchString2=C:\\Tools\\probe.exe|",
         {{11, E, "the program of SearchType 10 is always looked for among the package's files: 'C:\\Tools\\probe.exe' "
                  "becomes the extraction folder followed by 'C:\\Tools\\probe.exe', which cannot exist, so the search is "
                  "never found (name a program of the package); so 'Runtime' counts as missing on every machine"}}},
        {kPkg + "SearchType2=10|SearchString2=probe.exe|", {}},
        {base + "SetupFile=rt.exe|LanguageList=9|SearchType1=7|SearchString1=HKLM\\Software\\Rt\\Installed|",
         {{8, W, "names a language without its region"},
          {8, W, "LanguageList '9' matches no system language: 'Runtime' is excluded on every machine: it is never "
                 "searched for nor installed"}}},
        {kPkg + "LanguageList=1033,1031|",
         {{10, W, "LanguageList entry '1033,1031' reads as 1033 (only \";\" separates languages): the prerequisite is "
                  "evaluated only where the system language is 1033"}}},
        {kPkg + "LanguageList=1033;1031|", {}},
        {kPkg + "WinNTVersions=Windows 9x/ME/NT/2000/XP/Vista/Windows 7/Windows 8 x86/Windows 8.1 x86/Windows 10 x86|"
                "WinNT64Versions=Windows XP/Vista/Windows 7/Windows 8 x64/Windows 8.1 x64/Windows 10 x64/Windows 11 x64|",
         {{10, N, "names every Windows: the prerequisite is never evaluated on 32-bit Windows"},
          {11, N, "never evaluated on 64-bit Windows"},
          {10, W, "WinNTVersions and WinNT64Versions name every Windows: 'Runtime' is excluded on every machine"}}},
        {kPkg + "WinNTVersions=Windows 9x/ME/NT/2000/XP/Vista/Windows 7/Windows 8 x86/Windows 8.1 x86/Windows 10 x86|",
         {{10, N, "never evaluated on 32-bit Windows"}}},
        {kPkg + "WinNT64Versions=Windows 10 x64, Windows 11 x64|",
         {{10, N, "names the systems on which the prerequisite is skipped, not those it is for: it is never searched for "
                  "nor installed on 64-bit Windows 10 and 11"}}},
        {kPkg + "WinNT64Versions=Windows 7 x64, Windows 8 x64|", {}},
        // Values read otherwise than they look: "reads as".
        {kPkg + "Options=mandatory|",
         {{10, E, "Options=mandatory is read letter by letter: it reads as m (mandatory), r (restart the machine after a "
                  "successful setup: in a silent run without a question); the other letters mean nothing (write Options=m)"}}},
        {kPkg + "Options=required|", {{10, E, "i (no searches: installed on every run"}}},
        {kPkg + "Options=m|", {}},
        {"[GeneralOptions]|Options=silent|" + kPkg.substr(kPkg.find("ExtractionFolder")),
         {{2, E, "Options=silent is read letter by letter: it holds neither q nor b, so a run only evaluates and installs "
                 "nothing; the other letters mean nothing (write Options=q)"}}},
        {"[GeneralOptions]|Options=qb|" + kPkg.substr(kPkg.find("ExtractionFolder")),
         {{2, N, "the run is silent (q wins: no window at all) and launches every setup with its BasicUiCommandLine"}}},
        {"[GeneralOptions]|Options=q|DownloadFolder=[TempFolder]dl|[PREREQUISITES]|App1=Tools|[App1]|"
         "Url=\"https://h/tools.exe\"|SearchType1=7|SearchString1=HKLM\\Software\\Tools\\Installed|",
         {{7, E, "Url reads as \"https://h/tools.exe\" with its quotes (an INI value has no quoting: they are part of it): "
                 "no transfer takes an address that begins with a quote, so the download fails on every machine; write "
                 "Url=https://h/tools.exe"}}},
        {"[GeneralOptions]|Options=q|DownloadFolder=[TempFolder]dl|[PREREQUISITES]|App1=Tools|[App1]|"
         "Url=https://h/tools.exe|SearchType1=7|SearchString1=HKLM\\Software\\Tools\\Installed|",
         {}},
        {"[GeneralOptions]|Options=q|DownloadFolder=[TempFolder]dl|[PREREQUISITES]|App1=Tools|[App1]|"
         "Url=\"https://h/tools.exe\"|Folder=?tools.exe|Url2=https://m/tools.exe|Url3='https://n/tools.exe'|SearchType1=7|"
         "SearchString1=HKLM\\Software\\Tools\\Installed|",
         {{7, W, "so this place fails on every machine and the run tries the mirrors"},
          {10, W, "Url3 reads as 'https://n/tools.exe' with its quotes"}}},
        // Plain http or ftp that nothing checks; a digest, a pinned
        // publisher or a loopback host silence it.
        {"[GeneralOptions]|Options=q|DownloadFolder=[TempFolder]dl|[PREREQUISITES]|App1=Tools|[App1]|"
         "Url=https://h/tools.exe|Url2=ftp://m/tools.exe|SearchType1=7|SearchString1=HKLM\\Software\\Tools\\Installed|",
         {{8, W, "Url2 downloads over plain ftp and nothing checks the bytes"}}},
        {"[GeneralOptions]|Options=q|DownloadFolder=[TempFolder]dl|[PREREQUISITES]|App1=Tools|[App1]|"
         "Url=HTTP://h/tools.exe|SHA256=|MD5= |SearchType1=7|SearchString1=HKLM\\Software\\Tools\\Installed|",
         {{7, W, "Url downloads over plain HTTP and nothing checks the bytes"}}},
        {"[GeneralOptions]|Options=q|DownloadFolder=[TempFolder]dl|[PREREQUISITES]|App1=Tools|[App1]|"
         "Url=http://h/tools.exe|SignerName=Contoso Ltd|SearchType1=7|SearchString1=HKLM\\Software\\Tools\\Installed|",
         {}},
        {"[GeneralOptions]|Options=q|DownloadFolder=[TempFolder]dl|[PREREQUISITES]|App1=Tools|[App1]|"
         "Url=http://127.0.0.1:8080/tools.exe|Url2=ftp://localhost/tools.exe|Url3=http://[::1]:81/tools.exe|SearchType1=7|"
         "SearchString1=HKLM\\Software\\Tools\\Installed|",
         {}},
        // Mirrors after a gap, or beside a location that is not a Url.
        {"[GeneralOptions]|Options=q|DownloadFolder=[TempFolder]dl|[PREREQUISITES]|App1=Tools|[App1]|"
         "Url=https://h/tools.exe|Url2=https://m/tools.exe|Url4=https://n/tools.exe|SearchType1=7|"
         "SearchString1=HKLM\\Software\\Tools\\Installed|",
         {{9, W, "Url4 is never read: mirrors are numbered from Url2 without gaps, and Url3 is missing"}}},
        {base + "SetupFile=rt.exe|Url2=https://m/rt.exe|SearchType1=7|SearchString1=HKLM\\Software\\Rt\\Installed|",
         {{8, W, "Url2 is never read: mirrors are places of a Url download, and SetupFile comes first"}}},
        // The closing quote leaves the target no name: no mirror helps.
        {"[GeneralOptions]|Options=q|DownloadFolder=[TempFolder]dl|[PREREQUISITES]|App1=Tools|[App1]|"
         "Url=\"https://h/tools.exe\"|Url2=https://m/tools.exe|SearchType1=7|SearchString1=HKLM\\Software\\Tools\\I|",
         {{7, E, "so the download fails on every machine"}}},
        {base + "SetupFile=\"rt.exe\"|SearchType1=7|SearchString1=\"HKLM\\Software\\Rt\\Installed\"|",
         {{7, E, "SetupFile reads as \"rt.exe\" with its quotes"},
          {9, E, "SearchString1 reads as \"HKLM\\Software\\Rt\\Installed\" with its quotes (an INI value has no quoting: "
                 "they are part of it): no registry key is so named, so SearchType 7 (RegistryValueExists) is never found; "
                 "so 'Runtime' counts as missing on every machine, also where it is installed: its setup runs on every "
                 "run; write SearchString1=HKLM\\Software\\Rt\\Installed"}}},
        {kPkg + "ExactSize=1,234|", {{10, E, "ExactSize '1,234' reads as 1: every setup file of another size is rejected "
                                             "before its launch (write the size in bytes, decimal digits only: 1234)"}}},
        {kPkg + "ExactSize=0x1000|", {{10, W, "ExactSize '0x1000' reads as 0: no size is checked"}}},
        // Checked before every launch, of a SetupFile too; an empty digest checks nothing.
        {kPkg + "ExactSize=1234|MD5=0123456789abcdef0123456789ABCDEF|SHA256=|", {}},
        {kPkg + "MD5=|", {}},
        {kPkg + "MD5=d41d8cd98f00b204e9800998ecf8427e  rt.exe|",
         {{10, N, "MD5 is read as its first 32 characters 'd41d8cd98f00b204e9800998ecf8427e'; the rest ('  rt.exe') is ignored"}}},
        {kPkg + "SearchType2=2|SearchString2=HKLM\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full\\Release|"
                "VerMin2=528040|",
         {{11, N, "SearchType 2 (RegistryValueVersion) reads the value 'Release' as a version text: a REG_DWORD"}}},
        {kPkg + "SearchType2=2|SearchString2=HKLM\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full\\Version|"
                "VerMin2=4.8|",
         {}},
        {kPkg + "SearchType2=1|SearchString2=HKLM\\Software\\Rt\\Releases|VerMax2=4.8|",
         {{12, N, "VerMax2=4.8 reads as 4.8.0.0: a later 4.8 such as 4.8.1 is above it and not accepted (to accept every "
                  "4.8 write VerMax2=4.8.65535.65535)"}}},
        {kPkg + "SearchType2=1|SearchString2=HKLM\\Software\\Rt\\Releases|VerMax2=4.8.9999|", {}},
        {kPkg + "SearchType2=7|SearchString2=HKLM\\Software\\Rt\\|",
         {{11, N, "ends with a backslash: it names the key's default (unnamed) value, which most keys do not have; to "
                  "test the key itself use SearchType 5"}}},
        {kPkg + "Options=x|SearchType2=0|SearchString2=[ProgramFilesFolder]Rt\\rt.exe|",
         {{12, N, "[ProgramFilesFolder] is a folder of the 32-bit Program Files (x86) on 64-bit Windows, also with x"}}},
        {kPkg + "SearchType2=0|SearchString2=C:\\Windows\\System32\\rt.dll|",
         {{11, N, "reads SysWOW64 for System32 on 64-bit Windows"}}},
        {kPkg + "Options=x|SearchType2=0|SearchString2=C:\\Windows\\System32\\rt.dll|SearchType3=0|"
                "SearchString3=[ProgramFiles64Folder]Rt\\rt.exe|",
         {}},
        // The setup, its file and its arguments.
        {kPkg + "NoUiCommandLine=rt.exe /quiet|",
         {{10, W, "NoUiCommandLine begins with 'rt.exe': the chainer starts the setup file itself (a .msi through msiexec) "
                  "and hands this whole text to it as its arguments, program name included"}}},
        {base + "SetupFile=rt.msi|NoUiCommandLine=msiexec /i rt.msi /qn|SearchType1=7|SearchString1=HKLM\\Software\\Rt\\I|",
         {{8, W, "NoUiCommandLine begins with 'msiexec'"}}},
        {kPkg + "NoUiCommandLine=/quiet /log \"rt.exe.log\"|", {}},
        {base + "SetupFile=rt.ps1|SearchType1=7|SearchString1=HKLM\\Software\\Rt\\I|",
         {{7, W, "SetupFile 'rt.ps1' is no type Windows runs as a setup"}}},
        {base + "SetupFile=rt.cmd|SearchType1=7|SearchString1=HKLM\\Software\\Rt\\I|", {}},
        {base + "SetupFile=D:\\Build\\rt.exe|SearchType1=7|SearchString1=HKLM\\Software\\Rt\\I|",
         {{7, N, "SetupFile 'D:\\Build\\rt.exe' is a full path outside the package and the system's folders"}}},
        {base + "SetupFile=C:\\Windows\\System32\\wusa.exe|SearchType1=7|SearchString1=HKLM\\Software\\Rt\\I|", {}},
        {"[GeneralOptions]|Options=q|DownloadFolder=[TempFolder]dl|[PREREQUISITES]|App1=T|App2=U|[App1]|"
         "Url=https://h/t.exe|Folder=C:\\Downloads|SearchType1=5|SearchString1=HKLM\\Software\\T|[App2]|Url=https://h/u.exe|"
         "Folder=sub\\u.exe|SearchType1=5|SearchString1=HKLM\\Software\\U|",
         {{9, E, "Folder 'C:\\Downloads' is a subfolder of the download folder, not a folder of its own"},
          {14, W, "Folder 'sub\\u.exe' has no \"?\": all of it is a subfolder, so the download is saved in a folder named "
                  "'u.exe' under the URL's file name (write Folder=sub?u.exe)"}}},
        {"[GeneralOptions]|Options=q|DownloadFolder=[TempFolder]dl|[PREREQUISITES]|App1=T|[App1]|"
         "Url=https://h/t.exe|Folder=sub?t.exe|SearchType1=5|SearchString1=HKLM\\Software\\T|",
         {}},
        // Return codes.
        {kPkg + "ReturnCodes=3010:reboot,1641:Rebooting,x:success,7,3010:success,0:failure,1641:reboot,1603:success|",
         {{10, W, "item '1641:Rebooting': 'Rebooting' is not success, reboot, rebooting, retry or failure (did you mean "
                  "'rebooting'?"},
          {10, W, "item 'x:success': 'x' is no code"}, {10, W, "item '7' is not code:meaning: the chainer ignores the item"},
          {10, W, "lists 3010 again: the first item counts (reboot), '3010:success' is ignored"},
          {10, W, "0:failure: a setup that succeeds (0) then counts as failure"},
          {10, W, "1641:reboot: 1641 tells that the setup has already started a restart, yet the chain goes on while "
                  "Windows shuts down (write 1641:rebooting)"},
          {10, N, "1603:success: 1603 means the setup failed, and the run counts it as success"}}},
        {kPkg + "ReturnCodes=3010:rebooting|", {{10, W, "3010 asks for a restart that has not started"}}},
        {kPkg + "ReturnCodes= 3010:reboot, 1641:rebooting ,0x652:retry,-1:failure, 5100:success|", {}},
        // What prerequisites do to each other, and the order of the list.
        {Two("", "ParentPrereq=App1|"),
         {{15, W, "ParentPrereq 'App1' names no prerequisite: it takes a display name, not a key (App1 is 'Runtime'), "
                  "so no parent is ever selected with this one; write ParentPrereq=Runtime"}}},
        {Two("", "ParentPrereq=Runtime|"), {}},
        {Two("ParentPrereq=Tools|", ""),
         {{11, W, "ParentPrereq names 'Tools' (App2), which comes later in the list: the run installs 'Runtime' before "
                  "its parent (the list's order is the order of the work); list App2 before App1"}}},
        {Two("Options=mr|", ""),
         {{11, N, "'Runtime' restarts the machine as soon as its setup succeeds (a silent run asks no question), before "
                  "'Tools' is installed: it follows only when the package is run again after the restart"}}},
        {Two("", "Options=mr|"), {}},
        {Two("ReturnCodes=1641:rebooting|", ""),
         {{11, N, "when 'Runtime' returns 1641 (rebooting) nothing more is launched: 'Tools' wait for the package's next run"}}},
        {Two("", "ReturnCodes=1641:rebooting|"), {}},
        {Two("RetValPropName=Ret|", "RetValPropName=ret|"),
         {{16, W, "RetValPropName 'ret' is also App1's: the interboot context keeps the first code stored under a name"}}},
        {Two("RetValPropName=RtRet|", "RetValPropName=ToolsRet|"), {}},
        // Cleanup: without CleanupFolders every listed file goes; paths compare letter case aside.
        {kPkg + "[PREREQ_CHAINER]|CleanupFiles=C:\\Pkg\\a.txt\x01" "D:\\b.txt|", {{10, N, "deletes this INI"}}},
        {kPkg + "[PREREQ_CHAINER]|CleanupFolders=C:\\Pkg|CleanupFiles=c:\\pkg\\a.txt\x01" "C:\\Pkg\\sub\\..\\b.txt|",
         {{10, N, "deletes this INI"}}},
        {kPkg + "[PREREQ_CHAINER]|CleanupFiles=C:\\Pkg\\a.txt;C:\\Pkg\\b.txt|",
         {{10, N, "deletes this INI"},
          {11, W, "CleanupFiles reads 'C:\\Pkg\\a.txt;C:\\Pkg\\b.txt' as one path: only the character U+0001 separates files"}}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = IniBytes(c.ini);
        ExpectAll(CheckConfigurationFile(bytes.data(), bytes.size(), CheckOptions()), c.expected, c.ini);
    }
}

TEST(Checker, FileFormCases) {
    struct Case {
        std::string bytes;
        std::vector<Expect> expected;
    };
    const std::string ini = "[GeneralOptions]\r\nOptions=q\r\n";
    auto utf16 = [](const std::string& text, bool mark) {
        std::string out = mark ? "\xFF\xFE" : "";
        for (char c : text) out += std::string(1, c) + '\0';
        return out;
    };
    const std::vector<Case> cases = {
        {utf16(ini, true), {}},
        {utf16(ini, true) + "x", {{0, W, "odd number of bytes"}}},
        {ini, {{0, E, "the file is UTF-8"}, {0, N, "checked as the file reads"}}},
        {"\xEF\xBB\xBF" + ini, {{0, E, "the file is UTF-8"}}},
        {"[GeneralOptions]\r\nOptions=q\xE9\r\n", {{0, E, "ANSI"}, {2, W, "'\xC3\xA9' means nothing"}}},
        {utf16(ini, false), {{1, E, "no byte-order mark: the first two bytes are always skipped, so the first character ('[') is lost"}}},
        {utf16("[GeneralOptions]\nOptions=q\n", true), {{0, E, "LF-only line ends"}}},
        {utf16("[GeneralOptions]\rOptions=q\r", true), {{0, E, "CR-only line ends"}}},
        {utf16("[GeneralOptions]\r\nDefaultProdCode=a\nb\r\nOptions=q\r\n", true), {{2, W, "a lone LF stays inside the line"}}},
        {"", {{0, E, "empty"}}},
    };
    for (const Case& c : cases) {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(c.bytes.data());
        ExpectExactly(CheckConfigurationFile(bytes, c.bytes.size(), CheckOptions()), c.expected, c.bytes);
    }
}

TEST(Checker, WrittenFormReadsAsTheText) {
    const std::string source = "\xEF\xBB\xBF[GeneralOptions]\nOptions=q\r\nDefaultProdCode=\xC3\xA9t\xC3\xA9\r[X]";
    WString text = TextFromUtf8File(reinterpret_cast<const uint8_t*>(source.data()), source.size(), nullptr);
    Array<uint8_t> bytes;
    ChainerFormBytes(text, &bytes);
    ASSERT_GE(bytes.Size(), 4);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    EXPECT_EQ(bytes[bytes.Size() - 4], '\r');
    EXPECT_EQ(bytes[bytes.Size() - 2], '\n');
    DiagnosticList list = CheckConfigurationFile(bytes.begin(), static_cast<size_t>(bytes.Size()), CheckOptions());
    ExpectExactly(list, {{4, W, "unknown section [X]"}}, "written");
    EXPECT_NE(list.ToText(WString(u"s.txt")).find("s.txt:4: warning: unknown section [X] is never read [unknown-section]"),
              std::string::npos);
    EXPECT_FALSE(list.Ignore("no-such-rule"));
    EXPECT_TRUE(list.Ignore("unknown-section"));
    EXPECT_EQ(list.Count(Severity::kWarning), 0);
    // A message about the whole file has no line.
    std::vector<uint8_t> utf8 = {'[', 'X', ']', '\n'};
    DiagnosticList whole = CheckConfigurationFile(utf8.data(), utf8.size(), CheckOptions());
    const std::string json = whole.ToJson(WString(u"u.ini"));
    EXPECT_NE(json.find("{\"line\": null, \"severity\": \"error\", \"rule\": \"file-form\""), std::string::npos) << json;
    EXPECT_EQ(whole.ToText(WString(u"u.ini")).find("u.ini:0"), std::string::npos);
    IniDocument document;
    document.Parse(ConfigurationTextFromBytes(bytes.begin(), static_cast<size_t>(bytes.Size())));
    EXPECT_TRUE(*document.Lookup(WString(u"GeneralOptions"), WString(u"DefaultProdCode")) == u"\u00E9t\u00E9");
}

TEST(Checker, PackageFilesAreCompared) {
    const std::string temp = ::testing::TempDir();
    const WString dir = FromUtf8(temp.data(), temp.size());
    Array<uint8_t> content;
    for (char c : std::string("abc")) content.Add(static_cast<uint8_t>(c));
    ASSERT_TRUE(WriteWholeFile(dir + u"corvane_check_dl.exe", content));
    PackageFolder folder(dir);
    CheckOptions options;
    options.files = &folder;
    // Lines 8-10 App1 and its program search; 11-15 App2, whose download is there.
    std::vector<uint8_t> bytes = IniBytes(
        "[GeneralOptions]|Options=q|ExtractionFolder=[SETUPEXEDIR]|[PREREQUISITES]|App1=Runtime|App2=Dl|"
        "[App1]|SetupFile=missing.exe|SearchType1=10|SearchString1=probe.exe|[App2]|Url=https://h/corvane_check_dl.exe|"
        "Folder=|ExactSize=4|MD5=00000000000000000000000000000000|"
        "SHA256=BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD|");
    DiagnosticList list = CheckConfigurationFile(bytes.data(), bytes.size(), options);
    ExpectExactly(list, {{8, E, "SetupFile 'missing.exe' is not among"}, {10, E, "program 'probe.exe' is not among"},
                         {14, E, "ExactSize=3"}, {15, E, "MD5=900150983cd24fb0d6963f7d28e17f72"}},
                  "files");
    bytes = IniBytes("[GeneralOptions]|Options=q|[PREREQUISITES]|App1=Dl|[App1]|Url=https://h/corvane_check_dl.exe|");
    list = CheckConfigurationFile(bytes.data(), bytes.size(), options);
    ExpectExactly(list, {{6, N, "add ExactSize=3 and MD5=900150983cd24fb0d6963f7d28e17f72 or SHA256=ba7816bf8f01"}},
                  "files, unchecked");
    bytes = IniBytes("[GeneralOptions]|Options=q|[PREREQUISITES]|App1=Dl|[App1]|Url=https://h/corvane_check_dl.exe|"
                     "SHA256=ca7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad|");
    list = CheckConfigurationFile(bytes.data(), bytes.size(), options);
    ExpectExactly(list, {{7, E, "SHA256=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"}},
                  "files, wrong SHA256");
    // The one verdict of the chainer: an MD5 longer than 32 digits whose
    // first 32 match passes, a size beyond 32 bits is never cut, an empty
    // file matches no digest.
    ASSERT_TRUE(WriteWholeFile(dir + u"corvane_check_empty.exe", Array<uint8_t>()));
    bytes = IniBytes("[GeneralOptions]|Options=q|[PREREQUISITES]|App1=Dl|App2=Empty|[App1]|"
                     "Url=https://h/corvane_check_dl.exe|MD5=900150983cd24fb0d6963f7d28e17f72ff|ExactSize=4294967299|"
                     "[App2]|Url=https://h/corvane_check_empty.exe|SHA256=" + std::string(64, '0') + "|");
    list = CheckConfigurationFile(bytes.data(), bytes.size(), options);
    ExpectExactly(list, {{1, N, "downloads go straight into the user's temporary folder"},
                         {8, N, "MD5 is read as its first 32 characters"},
                         {9, E, "ExactSize 4294967299 differs from the download"},
                         {12, E, "'corvane_check_empty.exe' is empty: no digest matches an empty file"}},
                  "files, one verdict");
    // A publisher check checks the download: no advice to add a digest.
    bytes = IniBytes("[GeneralOptions]|Options=q|[PREREQUISITES]|App1=Dl|[App1]|Url=https://h/corvane_check_dl.exe|"
                     "SignerName=Contoso Ltd|");
    list = CheckConfigurationFile(bytes.data(), bytes.size(), options);
    EXPECT_EQ(Describe(list).find("is not checked"), std::string::npos) << Describe(list);
}

TEST(Checker, NamesAndCodes) {
    struct NameCase {
        const char16_t* name;
        const char16_t* nearest;
    };
    Array<WString> keys = KnownKeys(KeySet::kPrerequisite);
    const NameCase names[] = {{u"setupfile", u"SetupFile"}, {u"SetupFle", u"SetupFile"}, {u"SetFl", u""},
                              {u"Urll", u"Url"},           {u"Opertor", u"Operator"},   {u"Xyz", u""}};
    for (const NameCase& c : names) EXPECT_TRUE(NearestName(WString(c.name), keys) == c.nearest) << Utf8(WString(c.name));

    struct CodeCase {
        const char16_t* text;
        bool valid;
        uint32_t code;
    };
    const CodeCase codes[] = {{u"-536870888", true, 0xE0000018u}, {u"0xE0000018", true, 0xE0000018u},
                              {u"E0000024", true, 0xE0000024u},   {u"1603", true, 1603},
                              {u"3758096421", true, 0xE0000025u}, {u"-", false, 0},
                              {u"0x1FFFFFFFF", false, 0},         {u"12x", false, 0}};
    for (const CodeCase& c : codes) {
        uint32_t code = 0;
        EXPECT_EQ(ParseResultCode(WString(c.text), &code), c.valid) << Utf8(WString(c.text));
        if (c.valid) {
            EXPECT_EQ(code, c.code) << Utf8(WString(c.text));
        }
    }
    for (int i = 1; i < kCodeExplanationCount; ++i) EXPECT_LT(kCodeExplanations[i - 1].code, kCodeExplanations[i].code);

    // What a code means to the chainer: as its exit code, as a setup's return
    // code by the rule of every package, and under a package's ReturnCodes.
    const std::string package =
        "[GeneralOptions]|Options=q|[PREREQUISITES]|App1=Runtime|App2=Tools|App3=Site|[App1]|SetupFile=rt.exe|Options=m|"
        "[App2]|SetupFile=t.exe|Options=r|ReturnCodes=3010:reboot, 1618:retry, 0:failure|[App3]|OpenSite=https://h/|";
    struct ExplainCase {
        uint32_t code;
        bool withPackage;
        bool known;
        std::vector<std::string> fragments;
    } explained[] = {
        {0xFFFFFFFFu, false, true,
         {"-1 = 0xFFFFFFFF = 4294967295: the chainer's exit code: a reboot is pending",
          "as a setup's return code: the chainer counts it as a failure unless"}},
        {0, false, true, {"ERROR_SUCCESS", "as the chainer's exit code: nothing to do", "as a setup's return code: success"}},
        {1, false, true, {"1 = 0x00000001: the chainer's exit code: a mandatory prerequisite is still missing"}},
        {3010, false, true,
         {"ERROR_SUCCESS_REBOOT_REQUIRED: the setup reported that a restart is needed",
          "as a setup's return code: the chainer counts it as a failure unless the prerequisite's ReturnCodes lists it "
          "(ReturnCodes=3010:reboot"}},
        {12345, false, false, {"no result code of the chainer's own", "counts it as a failure unless"}},
        {3010, true, true,
         {"App1 'Runtime': failure (not in its ReturnCodes: 0 succeeds, anything else fails): the setup failed, and as the "
          "prerequisite is mandatory (m) the install phase stops there",
          "App2 'Tools': reboot (its ReturnCodes): the setup went through and needs a restart later: the chain goes on, and "
          "the run ends with -1 and keeps the interboot context; its r option restarts the machine once the chain has ended",
          "App3 'Site': opens a site: no setup runs"}},
        {1618, true, true, {"App2 'Tools': retry (its ReturnCodes): the setup could not run now: it is started again"}},
        {0, true, true,
         {"App1 'Runtime': success (not in its ReturnCodes", "App2 'Tools': failure (its ReturnCodes): the setup failed: "
                                                             "the run goes on with the next setup"}},
    };
    for (const ExplainCase& c : explained) {
        std::vector<uint8_t> bytes = IniBytes(package);
        bool known = !c.known;
        const std::string text = ExplainCodeText(c.code, bytes.data(), bytes.size(), c.withPackage, &known);
        EXPECT_EQ(known, c.known) << text;
        for (const std::string& fragment : c.fragments) EXPECT_NE(text.find(fragment), std::string::npos) << fragment << "\n" << text;
        // Never a success without the failure the run makes of it.
        if (!c.withPackage && c.code != 0) {
            EXPECT_NE(text.find("counts it as a failure unless"), std::string::npos) << text;
        }
    }
    for (uint32_t known : {0xE0000022u, 0xE0000027u, 0xE0000028u}) ASSERT_NE(ExplainCode(known), nullptr) << known;
    EXPECT_EQ(ExplainCode(0xE0000001u), nullptr);
    // Every name the OS tables give once; the 64-bit server and the oldest names among them.
    const Array<WString>& os = AllOsNames();
    int servers = 0;
    for (const WString& n : os) servers += n == u"Windows Server 2022 x64";
    EXPECT_EQ(servers, 1);
    bool xp = false;
    for (const WString& n : os) xp = xp || n == u"Windows XP SP3 x86";
    EXPECT_TRUE(xp);
}

}  // namespace

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
          {11, W, "did you mean 'SearchType1'"}}},
        {kBase + "[App2]|SetupFile=b.exe|[GeneralOption]|",
         {{8, W, "PREREQUISITES has no key App2"}, {10, W, "did you mean 'GeneralOptions'?"}}},
        // The prerequisite list.
        {"[PREREQUISITES]|App1=A|App3=C|App4=D|[App1]|SetupFile=C:\\a.exe|[App3]|SetupFile=C:\\c.exe|[App4]|Url=http://h/d.exe|",
         {{3, E, "App2 is missing from PREREQUISITES: the list ends there; never loaded: 'C', 'D'"}, {0, N, "only evaluates"}}},
        {"[PREREQUISITES]|App1=A|App2=B|[App1]|SetupFile=C:\\a.exe|",
         {{3, E, "no section [App2] for 'B'"}}},
        {"[PREREQUISITES]|App1=A|App2=B|[App1]|Setup=C:\\a.exe|[App2]|SetupFile=C:\\b.exe|",
         {{4, E, "has no SetupFile, OpenSite or Url: the list ends here; never loaded: 'A', 'B'"}, {5, W, "unknown key 'Setup'"}}},
        {kBase + "SearchType1=5|SearchString1=HKLM\\Software\\X|SearchType2=5|",
         {{10, E, "SearchType2 has no SearchString2"}}},
        {kBase + "SearchType1=5|SearchString1=HKLM\\S|SearchType3=5|SearchString3=HKLM\\T|VerMin4=1|",
         {{10, E, "SearchType3 is never read: the searches end at the missing SearchType2"}, {12, W, "no SearchType4"}}},
        {kBase + "Url=http://h/rt.exe|OpenSite=http://h/|",
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
          {9, W, "'12abc' reads as 12"}, {10, E, "neither 0 (all) nor 1 (any)"}, {11, E, "not 32 hexadecimal"},
          {9, W, "ExactSize has no effect with SetupFile"}, {11, W, "MD5 has no effect with SetupFile"}}},
        {kBase + "ExactSize=99999999999999999999|Operator=x|",
         {{8, W, "out of range (64-bit): it reads as 18446744073709551615"}, {9, W, "holds no number: it reads as 0"},
          {8, W, "no effect with SetupFile"}}},
        // ExactSize is read in 64 bits, as the chainer reads it.
        {kBase + "ExactSize=5368709120|", {{8, W, "no effect with SetupFile"}}},
        {kBase + "ExactSize=-7|", {{8, W, "ExactSize is negative: it reads as 4294967289"}, {8, W, "no effect with SetupFile"}}},
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
         {{9, E, "has no backslash"}, {11, W, "registry root 'HKLMX' is unknown: HKEY_USERS is used"}}},
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
         "[App1]|Url=http://h/a/|[App2]|Url=gopher://h/b.exe|[App3]|Url=http://h/x/yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy.exe|"
         "[App4]|Url=http://h/dl?id=5|[App5]|Url=http://h/a%20b%20c.exe|Folder=sub|[App6]|Url=http://h/%VERSION%/f.exe|",
         {{11, E, "gets no file name"}, {13, W, "scheme 'gopher'"}, {15, W, "cut to its last 41"},
          {17, W, "saved as 'id=5', not 'dl'"}, {19, W, "%20b% is read as an environment variable"}}},
        // Keys without effect where they stand.
        {kBase + "SearchType1=5|SearchString1=HKLM\\S|RefContent1=M1|SearchCmdLine1=/x|Options=ir|ParentPrereq=Runtime|",
         {{10, W, "RefContent1 is not read by SearchType 5 (RegistryKeyExists)"}, {11, W, "SearchCmdLine1 is not read"},
          {12, N, "searches are never run"}, {12, N, "does not make the prerequisite required"},
          {13, W, "names this prerequisite itself"}}},
        {"[PREREQUISITES]|App1=A|[App1]|OpenSite=http://h/|NoUiCommandLine=/q|Folder=x|",
         {{5, W, "NoUiCommandLine has no effect with OpenSite"}, {6, W, "Folder has no effect with OpenSite"}}},
        {"[GeneralOptions]|Options=b|ExtractionFolder=[SETUPEXEDIR]|ProductVersion=1.0|[PREREQUISITES]|App1=A|[App1]|"
         "SetupFile=a.exe|NoUiCommandLine=/q|CommandLine=/x|",
         {{4, N, "ProductVersion is carried"},
          {9, W, "launches the setup with BasicUiCommandLine, which is empty here: the setup runs without arguments "
                 "(NoUiCommandLine, CommandLine never reaches it)"}}},
        // What prerequisites share: download targets and part files, setup files, parents.
        {"[GeneralOptions]|Options=q|[PREREQUISITES]|App1=A|App2=B|App3=C|[App1]|Url=http://h/a/setup.exe|"
         "NoUiCommandLine=/log [TempFolder]a.log|[App2]|Url=http://h/b/setup.exe|[App3]|Url=http://h/c/x.exe|Folder=?setup.exe.part|",
         {{11, W, "App2 downloads to 'setup.exe', as App1 does (its file or its .part file): the chainer moves this "
                  "download to 'App2\\setup.exe'"},
          {13, W, "App3 downloads to 'setup.exe.part', as App1 does"}, {14, W, "Windows does not run as a setup"},
          {1, N, "downloads go straight into the user's temporary folder"}}},
        {"[PREREQUISITES]|App1=A|App2=B|[App1]|SetupFile=C:\\s.exe|ParentPrereq=B|[App2]|SetupFile=C:\\S.exe|ParentPrereq=A|",
         {{8, N, "runs the same setup file as App1"}, {6, N, "name each other as parent"}}},
        // Paths whose meaning depends on the current folder; digests.
        {"[GeneralOptions]|Options=q|DownloadFolder=dl|ExtractionFolder=pkg|[PREREQUISITES]|App1=A|[App1]|Url=http://h/a.zip|"
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
        {"[PREREQUISITES]|App1=A|[App1]|OpenSite=http://h/|SignerName=Contoso|SignerThumbprint=|",
         {{5, W, "SignerName has no effect with OpenSite"}, {6, W, "SignerThumbprint is empty"}}},
        {kBase + "[PREREQ_CHAINER]|CleanupFolders=C:\\Pkg\\|CleanupFiles=a.txt\x01" "D:\\b.txt\x01" "C:\\Pkg\\c.txt|",
         {{8, N, "deletes this INI"}, {9, W, "ends with a backslash"}, {10, W, "'a.txt' is relative"},
          {10, W, "'D:\\b.txt' is not inside CleanupFolders"}}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = IniBytes(c.ini);
        ExpectExactly(CheckConfigurationFile(bytes.data(), bytes.size(), CheckOptions()), c.expected, c.ini);
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
        "[App1]|SetupFile=missing.exe|SearchType1=10|SearchString1=probe.exe|[App2]|Url=http://h/corvane_check_dl.exe|"
        "Folder=|ExactSize=4|MD5=00000000000000000000000000000000|"
        "SHA256=BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD|");
    DiagnosticList list = CheckConfigurationFile(bytes.data(), bytes.size(), options);
    ExpectExactly(list, {{8, E, "SetupFile 'missing.exe' is not among"}, {10, E, "program 'probe.exe' is not among"},
                         {14, E, "ExactSize=3"}, {15, E, "MD5=900150983cd24fb0d6963f7d28e17f72"}},
                  "files");
    bytes = IniBytes("[GeneralOptions]|Options=q|[PREREQUISITES]|App1=Dl|[App1]|Url=http://h/corvane_check_dl.exe|");
    list = CheckConfigurationFile(bytes.data(), bytes.size(), options);
    ExpectExactly(list, {{6, N, "add ExactSize=3 and MD5=900150983cd24fb0d6963f7d28e17f72 or SHA256=ba7816bf8f01"}},
                  "files, unchecked");
    bytes = IniBytes("[GeneralOptions]|Options=q|[PREREQUISITES]|App1=Dl|[App1]|Url=http://h/corvane_check_dl.exe|"
                     "SHA256=ca7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad|");
    list = CheckConfigurationFile(bytes.data(), bytes.size(), options);
    ExpectExactly(list, {{7, E, "SHA256=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"}},
                  "files, wrong SHA256");
    // The one verdict of the chainer: an MD5 longer than 32 digits whose
    // first 32 match passes, a size beyond 32 bits is never cut, an empty
    // file matches no digest.
    ASSERT_TRUE(WriteWholeFile(dir + u"corvane_check_empty.exe", Array<uint8_t>()));
    bytes = IniBytes("[GeneralOptions]|Options=q|[PREREQUISITES]|App1=Dl|App2=Empty|[App1]|"
                     "Url=http://h/corvane_check_dl.exe|MD5=900150983cd24fb0d6963f7d28e17f72ff|ExactSize=4294967299|"
                     "[App2]|Url=http://h/corvane_check_empty.exe|SHA256=" + std::string(64, '0') + "|");
    list = CheckConfigurationFile(bytes.data(), bytes.size(), options);
    ExpectExactly(list, {{1, N, "downloads go straight into the user's temporary folder"},
                         {8, W, "longer than 32 digits: only the first 32 are compared"},
                         {9, E, "ExactSize 4294967299 differs from the file"},
                         {12, E, "'corvane_check_empty.exe' is empty: no SHA256 matches it"}},
                  "files, one verdict");
    // A publisher check checks the download: no advice to add a digest.
    bytes = IniBytes("[GeneralOptions]|Options=q|[PREREQUISITES]|App1=Dl|[App1]|Url=http://h/corvane_check_dl.exe|"
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

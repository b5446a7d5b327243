#include <gtest/gtest.h>

#include <string>

#include "config/chainer_settings.h"
#include "config/ini_document.h"
#include "config/ini_schema.h"
#include "config/prerequisite.h"
#include "platform/references.h"
#include "test_values.h"

namespace {

IniDocument Document(const char16_t* text) {
    IniDocument document;
    document.Parse(Ini(text));
    return document;
}

std::string Narrow(const WString& text) {
    std::string out;
    for (int i = 0; i < text.Length(); ++i) out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    return out;
}

// Environment variables as the tests define them; no folders, no registry.
class FakeResolver : public ReferenceResolver {
public:
    bool FolderProperty(const WString&, bool, WString*) override { return false; }
    WString EnvironmentVariable(const WString& name) override {
        ++lookups;
        return name == u"HOST" ? WString(u"example.test") : WString();
    }
    WString RegistryValue(const WString&, bool) override { return WString(); }
    int lookups = 0;
};

GeneralOptions LoadOptions(const char16_t* text) {
    GeneralOptions options;
    EXPECT_TRUE(LoadGeneralOptions(Document(text), &options));
    return options;
}

TEST(GeneralOptionsLoad, EveryTextKeyLandsInItsField) {
    struct Field {
        const char16_t* key;
        WString GeneralOptions::*field;
    };
    const Field fields[] = {
        {u"MainAppCmdLine", &GeneralOptions::MainAppCmdLine}, {u"Options", &GeneralOptions::Options},
        {u"UpdatesUrl", &GeneralOptions::UpdatesUrl},         {u"ProductVersion", &GeneralOptions::ProductVersion},
        {u"MinWIVer", &GeneralOptions::MinWIVer},             {u"DownloadFolder", &GeneralOptions::DownloadFolder},
        {u"MainAppURL", &GeneralOptions::MainAppURL},         {u"UwpAppxURL", &GeneralOptions::UwpAppxURL},
        {u"LanguageList", &GeneralOptions::LanguageList},     {u"Langs", &GeneralOptions::Langs},
        {u"PackageCode", &GeneralOptions::PackageCode},       {u"DefaultProdCode", &GeneralOptions::DefaultProdCode},
        {u"ProductCode", &GeneralOptions::ProductCode},       {u"UpgradeCode", &GeneralOptions::UpgradeCode},
        {u"SaveExtUIStub", &GeneralOptions::SaveExtUIStub},   {u"FileExtractFirst", &GeneralOptions::FileExtractFirst},
        {u"MsiCertData", &GeneralOptions::MsiCertData},       {u"AppxVersion", &GeneralOptions::AppxVersion},
        {u"AppxPkId", &GeneralOptions::AppxPkId},
    };
    // Each key gets a distinct value; a value must land in its own field only.
    WString text(u"[GeneralOptions]");
    for (const Field& f : fields) text += Format(u"\r\n%s = value of %s ", WString(f.key), WString(f.key));
    IniDocument document;
    document.Parse(text);
    GeneralOptions options;
    ASSERT_TRUE(LoadGeneralOptions(document, &options));
    for (const Field& f : fields)
        EXPECT_TRUE(options.*f.field == Format(u"value of %s", WString(f.key))) << Narrow(WString(f.key));

    // Keys are case-sensitive: nothing is read from other spellings.
    GeneralOptions other = LoadOptions(u"[GeneralOptions]|options=q|DOWNLOADFOLDER=C:\\x|[generaloptions]|Options=b");
    EXPECT_TRUE(other.Options.IsEmpty());
    EXPECT_TRUE(other.DownloadFolder.IsEmpty());
}

// A value that moves a key's field away from its default.
const char16_t* ChangingValue(ValueKind kind) {
    switch (kind) {
        case ValueKind::kInteger: return u"7";
        case ValueKind::kSize: return u"5368709120";
        case ValueKind::kKeepFilesWord: return u"complete";
        case ValueKind::kTrueFlag: return u"TRUE";
        default: return u"x";
    }
}

template <class Record>
bool FieldMoved(const KeySchema<Record>& key, const Record& loaded) {
    const Record fresh{};
    if (key.text) return loaded.*key.text != fresh.*key.text;
    if (key.number) return loaded.*key.number != fresh.*key.number;
    if (key.size) return loaded.*key.size != fresh.*key.size;
    return key.flag && loaded.*key.flag != fresh.*key.flag;
}

template <class Record>
std::vector<std::string> SchemaNames(const KeySchema<Record>* keys, int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back(Narrow(WString(keys[i].name)));
    return names;
}

// The keys the documentation names for each section are exactly those of the
// schema, and each schema key moves its own field when the loader reads it.
TEST(IniSchema, EveryDocumentedKeyIsReadAndNoOther) {
    const std::vector<std::string> general = {
        "MainAppCmdLine", "Options", "UpdatesUrl", "ProductVersion", "MinWIVer", "DownloadFolder", "MainAppURL",
        "UwpAppxURL", "LanguageList", "ExtractionFolder", "KeepFiles", "PackJars", "AllPlatforms",
        "Is64PlatformTransf", "Langs", "PackageCode", "DefaultProdCode", "ProductCode", "UpgradeCode", "ExtUIStub",
        "SaveExtUIStub", "FileExtractFirst", "MsiCertData", "AppxVersion", "AppxPkId", "Title"};
    const std::vector<std::string> prerequisite = {
        "VerMin", "VerMax", "WinNTVersions", "WinNT64Versions", "ExactSize", "MD5", "SHA256", "SignerThumbprint",
        "SignerName", "Operator",
        "CommandLine", "BasicUiCommandLine", "NoUiCommandLine", "Options", "RetValPropName", "ReturnCodes", "ParentPrereq",
        "Folder", "LanguageList"};
    const std::vector<std::string> search = {"SearchType", "SearchString", "VerMin", "VerMax", "RefContent", "SearchCmdLine"};
    const std::vector<std::string> chainer = {"CleanupFiles", "CleanupFolders", "LogFile", "CleanupScript"};
    EXPECT_EQ(SchemaNames(kGeneralOptionKeys, kGeneralOptionKeyCount), general);
    EXPECT_EQ(SchemaNames(kPrerequisiteKeys, kPrerequisiteKeyCount), prerequisite);
    EXPECT_EQ(SchemaNames(kSearchKeys, kSearchKeyCount), search);
    EXPECT_EQ(SchemaNames(kChainerKeys, kChainerKeyCount), chainer);

    for (int i = 0; i < kGeneralOptionKeyCount; ++i) {
        const auto& key = kGeneralOptionKeys[i];
        GeneralOptions options;
        LoadGeneralOptions(Document((u"[GeneralOptions]|" + WString(key.name) + u"=" + ChangingValue(key.kind)).c_str()), &options);
        EXPECT_TRUE(FieldMoved(key, options)) << Narrow(WString(key.name));
    }
    for (int i = 0; i < kPrerequisiteKeyCount; ++i) {
        const auto& key = kPrerequisiteKeys[i];
        Prerequisite record;
        ASSERT_TRUE(LoadPrerequisiteDefinition(
            Document((u"[PREREQUISITES]|App1=A|[App1]|Url=u|" + WString(key.name) + u"=" + ChangingValue(key.kind)).c_str()),
            1, &record));
        EXPECT_TRUE(FieldMoved(key, record)) << Narrow(WString(key.name));
    }
    WString searches = u"[PREREQUISITES]|App1=A|[App1]|Url=u";
    for (int i = 0; i < kSearchKeyCount; ++i)
        searches += u"|" + WString(kSearchKeys[i].name) + u"1=" + ChangingValue(kSearchKeys[i].kind);
    Prerequisite withSearch;
    ASSERT_TRUE(LoadPrerequisiteDefinition(Document(searches.c_str()), 1, &withSearch));
    ASSERT_EQ(withSearch.Searches.Size(), 1);
    for (int i = 0; i < kSearchKeyCount; ++i)
        EXPECT_TRUE(FieldMoved(kSearchKeys[i], withSearch.Searches[0])) << Narrow(WString(kSearchKeys[i].name));
    for (int i = 0; i < kChainerKeyCount; ++i) {
        const auto& key = kChainerKeys[i];
        ChainerSettings settings;
        ASSERT_TRUE(LoadChainerSettings(Document((u"[PREREQ_CHAINER]|" + WString(key.name) + u"=x").c_str()), &settings));
        EXPECT_TRUE(FieldMoved(key, settings)) << Narrow(WString(key.name));
    }
}

TEST(GeneralOptionsLoad, ConvertedValues) {
    struct Case {
        const char16_t* text;
        int32_t keepFiles;
        bool packJars, allPlatforms, is64, extUiStub;
    };
    const Case cases[] = {
        {u"[GeneralOptions]", 0, false, false, false, false},
        {u"[Other]|KeepFiles=complete|PackJars=true", 0, false, false, false, false},
        {u"[GeneralOptions]|KeepFiles=complete", 2, false, false, false, false},
        {u"[GeneralOptions]|KeepFiles=minimum", 1, false, false, false, false},
        {u"[GeneralOptions]|KeepFiles=prereqs", 5, false, false, false, false},
        {u"[GeneralOptions]|KeepFiles=Complete", 0, false, false, false, false},
        {u"[GeneralOptions]|KeepFiles=2", 0, false, false, false, false},
        {u"[GeneralOptions]|KeepFiles=", 0, false, false, false, false},
        {u"[GeneralOptions]|KeepFiles=  prereqs  ", 5, false, false, false, false},
        {u"[GeneralOptions]|PackJars=TRUE|AllPlatforms=True|Is64PlatformTransf=true", 0, true, true, true, false},
        {u"[GeneralOptions]|PackJars=1|AllPlatforms=yes|Is64PlatformTransf=truex", 0, false, false, false, false},
        {u"[GeneralOptions]|ExtUIStub=", 0, false, false, false, false},
        {u"[GeneralOptions]|ExtUIStub=0", 0, false, false, false, true},
        {u"[GeneralOptions]|ExtUIStub=stub.exe", 0, false, false, false, true},
    };
    for (const Case& c : cases) {
        GeneralOptions o = LoadOptions(c.text);
        SCOPED_TRACE(Narrow(WString(c.text)));
        EXPECT_EQ(o.KeepFiles, c.keepFiles);
        EXPECT_EQ(o.PackJars, c.packJars);
        EXPECT_EQ(o.AllPlatforms, c.allPlatforms);
        EXPECT_EQ(o.Is64PlatformTransf, c.is64);
        EXPECT_EQ(o.ExtUIStub, c.extUiStub);
    }
}

TEST(GeneralOptionsLoad, ModeLettersAndFolders) {
    struct Case {
        const char16_t* text;
        bool silent, basic;
        const char16_t* extraction;
        const char16_t* download;
    };
    const Case cases[] = {
        {u"[GeneralOptions]|Options=qb", true, true, u"", u""},
        {u"[GeneralOptions]|Options=Q", false, false, u"", u""},
        {u"[GeneralOptions]|Options=xbz", false, true, u"", u""},
        {u"[GeneralOptions]|ExtractionFolder=C:\\pkg\\\\files", false, false, u"C:\\pkg\\files\\", u""},
        {u"[GeneralOptions]|ExtractionFolder=D:\\x\\", false, false, u"D:\\x\\", u""},
        {u"[GeneralOptions]|ExtractionFolder=[TempFolder]\\Unpacked. ", false, false, u"[TempFolder]Unpacked\\", u""},
        {u"[GeneralOptions]|ExtractionFolder=", false, false, u"", u""},
        // The download folder is kept as written until it is resolved.
        {u"[GeneralOptions]|DownloadFolder=C:\\dl\\\\x", false, false, u"", u"C:\\dl\\\\x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(WString(c.text)));
        PrerequisiteList list;
        FakeResolver resolver;
        list.Load(Document(c.text), resolver);
        EXPECT_EQ(list.IsSilentMode(), c.silent);
        EXPECT_EQ(list.IsBasicUiMode(), c.basic);
        EXPECT_TRUE(list.options.ExtractionFolder == c.extraction) << Narrow(list.options.ExtractionFolder);
        EXPECT_TRUE(list.options.DownloadFolder == c.download) << Narrow(list.options.DownloadFolder);
    }
}

// Names of the prerequisites loaded from the text, joined by ','.
std::string LoadedNames(const char16_t* text) {
    PrerequisiteList list;
    FakeResolver resolver;
    list.Load(Document(text), resolver);
    std::string names;
    for (int i = 0; i < list.Count(); ++i) names += (i ? "," : "") + Narrow(list[i].Name);
    return names;
}

TEST(PrerequisiteLoad, EnumerationStops) {
    struct Case {
        const char16_t* text;
        const char* names;
    };
    const Case cases[] = {
        {u"[GeneralOptions]|Options=q", ""},
        {u"[PREREQUISITES]|App1=One|[App1]|SetupFile=a.exe", "One"},
        {u"[PREREQUISITES]|App1=One|App2=Two|[App2]|Url=u|[App1]|SetupFile=a.exe", "One,Two"},
        // A gap in the numbers ends the list.
        {u"[PREREQUISITES]|App1=One|App3=Three|[App1]|SetupFile=a|[App3]|SetupFile=c", "One"},
        // A name without its section ends the list.
        {u"[PREREQUISITES]|App1=One|App2=Two|App3=Three|[App1]|SetupFile=a|[App3]|SetupFile=c", "One"},
        // The section is App<N>, not the display name.
        {u"[PREREQUISITES]|App1=One|[One]|SetupFile=a", ""},
        // No location key: it and all later ones are missing.
        {u"[PREREQUISITES]|App1=One|App2=Two|App3=Three|[App1]|SetupFile=a|[App2]|CommandLine=/q|[App3]|Url=u",
         "One"},
        // A present location key with an empty value still counts.
        {u"[PREREQUISITES]|App1=One|[App1]|OpenSite=", "One"},
        // A search type without its search string.
        {u"[PREREQUISITES]|App1=One|App2=Two|[App1]|SetupFile=a|SearchType1=1|[App2]|SetupFile=b", ""},
        {u"[PREREQUISITES]|App1=One|App2=Two|[App1]|SetupFile=a|[App2]|SetupFile=b|SearchType1=1|SearchString1=x|"
         u"SearchType2=3",
         "One"},
        // No leading zeros in the numbers; keys are case-sensitive.
        {u"[PREREQUISITES]|App01=One|[App01]|SetupFile=a", ""},
        {u"[PREREQUISITES]|app1=One|[app1]|SetupFile=a", ""},
        {u"[prerequisites]|App1=One|[App1]|SetupFile=a", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(LoadedNames(c.text), c.names) << Narrow(WString(c.text));
}

TEST(PrerequisiteLoad, FieldsAndDefaults) {
    PrerequisiteList list;
    FakeResolver resolver;
    list.Load(Document(u"[PREREQUISITES]|App1=VC Runtime|App2=Framework|App3=Site|"
                       u"[App1]|VerMin=1.0|VerMax=2.0|WinNTVersions=Win7|WinNT64Versions=Win10|"
                       u"SetupFile=redist\\vc.exe|Url=http://ignored/|ExactSize= 1000xyz|MD5=abc|Operator=-7|"
                       u"CommandLine=/c|BasicUiCommandLine=/b|NoUiCommandLine=/q|Options=mx|RetValPropName=VC_RET|"
                       u"ParentPrereq=Framework|Folder=[SystemFolder]|LanguageList=1033|"
                       u"[App2]|Url=http://%HOST%/fw.exe|Options=mi|LanguageList=1033;1031;|"
                       u"[App3]|OpenSite=https://%HOST%/get|Url=http://%HOST%/never"),
              resolver);
    ASSERT_EQ(list.Count(), 3);

    const Prerequisite& vc = list[0];
    EXPECT_TRUE(vc.Name == u"VC Runtime");
    EXPECT_TRUE(vc.VerMin == u"1.0");
    EXPECT_TRUE(vc.VerMax == u"2.0");
    EXPECT_TRUE(vc.WinNTVersions == u"Win7");
    EXPECT_TRUE(vc.WinNT64Versions == u"Win10");
    EXPECT_TRUE(vc.Location == u"redist\\vc.exe");
    EXPECT_EQ(vc.LocationKind, kLocationSetupFile);
    EXPECT_EQ(vc.ExactSize, 1000);
    EXPECT_TRUE(vc.MD5 == u"abc");
    EXPECT_EQ(vc.Operator, -7);
    EXPECT_TRUE(vc.CommandLine == u"/c");
    EXPECT_TRUE(vc.BasicUiCommandLine == u"/b");
    EXPECT_TRUE(vc.NoUiCommandLine == u"/q");
    EXPECT_TRUE(vc.Options == u"mx");
    EXPECT_TRUE(vc.RetValPropName == u"VC_RET");
    EXPECT_TRUE(vc.ParentPrereq == u"Framework");
    EXPECT_TRUE(vc.Folder == u"[SystemFolder]");
    EXPECT_TRUE(vc.LanguageList == u"1033;");
    EXPECT_FALSE(vc.IgnoreOption);
    EXPECT_EQ(vc.Action, kActionNotEvaluated);
    EXPECT_EQ(vc.FoundAction, kActionNotEvaluated);
    EXPECT_FALSE(vc.Selected);
    EXPECT_FALSE(vc.AlreadyDownloaded);
    EXPECT_EQ(vc.Searches.Size(), 0);

    // A record starts from the defaults: nothing leaks from the one before.
    const Prerequisite& fw = list[1];
    EXPECT_EQ(fw.LocationKind, kLocationUrl);
    EXPECT_TRUE(fw.Location == u"http://example.test/fw.exe");
    EXPECT_EQ(fw.ExactSize, 0);
    EXPECT_EQ(fw.Operator, 0);
    EXPECT_TRUE(fw.MD5.IsEmpty());
    EXPECT_TRUE(fw.VerMin.IsEmpty());
    EXPECT_TRUE(fw.RetValPropName.IsEmpty());
    EXPECT_TRUE(fw.LanguageList == u"1033;1031;");
    EXPECT_TRUE(fw.IgnoreOption);
    EXPECT_TRUE(fw.HasOption(u'm'));

    // OpenSite wins over Url, and its references are expanded too.
    const Prerequisite& site = list[2];
    EXPECT_EQ(site.LocationKind, kLocationOpenSite);
    EXPECT_TRUE(site.Location == u"https://example.test/get") << Narrow(site.Location);
}

TEST(PrerequisiteLoad, SetupFileLocationIsNotExpanded) {
    PrerequisiteList list;
    FakeResolver resolver;
    list.Load(Document(u"[PREREQUISITES]|App1=One|[App1]|SetupFile=%HOST%\\a.exe"), resolver);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_TRUE(list[0].Location == u"%HOST%\\a.exe");
    EXPECT_EQ(resolver.lookups, 0);
}

TEST(PrerequisiteLoad, LenientIntegers) {
    constexpr uint64_t kNoFile = ~0ull;  // digits beyond 64 bits: a size no file has
    struct Case {
        const char16_t* value;
        int32_t expected;
        uint64_t size;  // ExactSize: the same rule in 64 bits, never wrapped
    };
    const Case cases[] = {
        {u"12abc", 12, 12},
        {u"-7", -7, 4294967289u},  // negative sizes read as they always did while they fit 32 bits ...
        {u"-2147483648", INT32_MIN, 2147483648u},
        {u"-2147483649", 2147483647, kNoFile},  // ... and beyond that as no file's size
        {u"x", 0, 0},
        {u"", 0, 0},
        {u"+5", 5, 5},
        {u"-+5", -5, 4294967291u},
        {u"+-5", 0, 0},
        {u"-0", 0, 0},
        {u"4294967297", 1, 4294967297ull},
        {u"2147483648", INT32_MIN, 2147483648u},
        {u"4294967295", -1, 4294967295u},
        {u"4294967296", 0, 4294967296ull},
        {u"5368709120x", 1073741824, 5368709120ull},
        {u"18446744073709551615", -1, kNoFile},
        {u"18446744073709551616", 0, kNoFile},
        {u"99999999999999999999", 1661992959, kNoFile},
        {u"007", 7, 7},
        {u"1 2", 1, 1},
    };
    for (const Case& c : cases) {
        WString text = Format(u"[PREREQUISITES]\r\nApp1=A\r\n[App1]\r\nUrl=u\r\nExactSize=%s\r\nOperator=%s\r\n"
                              u"SearchType1=%s\r\nSearchString1=s",
                              WString(c.value), WString(c.value), WString(c.value));
        IniDocument document;
        document.Parse(text);
        Prerequisite record;
        ASSERT_TRUE(LoadPrerequisiteDefinition(document, 1, &record)) << Narrow(WString(c.value));
        EXPECT_EQ(record.ExactSize, c.size) << Narrow(WString(c.value));
        EXPECT_EQ(record.Operator, c.expected) << Narrow(WString(c.value));
        ASSERT_EQ(record.Searches.Size(), 1);
        EXPECT_EQ(record.Searches[0].SearchType, c.expected) << Narrow(WString(c.value));
    }
}

TEST(PrerequisiteLoad, Searches) {
    Prerequisite record;
    IniDocument document = Document(
        u"[PREREQUISITES]|App1=A|[App1]|Url=u|"
        u"SearchType1=2|SearchString1=HKLM\\Software\\X|VerMin1=1.0|VerMax1=2.0|RefContent1=ref|SearchCmdLine1=/v|"
        u"SearchType2=10|SearchString2=probe.exe|"
        u"SearchType4=1|SearchString4=never read|"
        u"SearchString3=no type");
    ASSERT_TRUE(LoadPrerequisiteDefinition(document, 1, &record));
    ASSERT_EQ(record.Searches.Size(), 2);
    const SearchEntry& first = record.Searches[0];
    EXPECT_EQ(first.SearchType, 2);
    EXPECT_TRUE(first.SearchString == u"HKLM\\Software\\X");
    EXPECT_TRUE(first.VerMin == u"1.0");
    EXPECT_TRUE(first.VerMax == u"2.0");
    EXPECT_TRUE(first.RefContent == u"ref");
    EXPECT_TRUE(first.SearchCmdLine == u"/v");
    const SearchEntry& second = record.Searches[1];
    EXPECT_EQ(second.SearchType, 10);
    EXPECT_TRUE(second.SearchString == u"probe.exe");
    EXPECT_TRUE(second.VerMin.IsEmpty());
    EXPECT_TRUE(second.SearchCmdLine.IsEmpty());

    // Definitions that are not there.
    EXPECT_FALSE(LoadPrerequisiteDefinition(document, 2, &record));
    EXPECT_FALSE(LoadPrerequisiteDefinition(Document(u"[App1]|Url=u"), 1, &record));
}

}  // namespace

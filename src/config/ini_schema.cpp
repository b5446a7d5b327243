#include "config/ini_schema.h"

#include "config/chainer_settings.h"
#include "config/ini_document.h"
#include "config/prerequisite.h"

const char16_t kGeneralOptionsSection[] = u"GeneralOptions";
const char16_t kPrerequisitesSection[] = u"PREREQUISITES";
const char16_t kChainerSection[] = u"PREREQ_CHAINER";
const char16_t kAppKeyBase[] = u"App";
const char16_t kMirrorUrlBase[] = u"Url";

const LocationKeySchema kLocationKeys[3] = {
    {u"SetupFile", kLocationSetupFile},
    {u"OpenSite", kLocationOpenSite},
    {u"Url", kLocationUrl},
};

namespace {

const SearchTypeSchema kSearchTypes[] = {
    {kSearchFileVersion, "FileVersion", kReadsRange | kStringExpanded,
     "a file path, or a bare name searched on the fixed drives (name?depth)"},
    {kSearchRegistrySubkeys, "RegistrySubkeys", kReadsRange | kStringIsRegistryKey, "a registry key"},
    {kSearchRegistryValueVersion, "RegistryValueVersion", kReadsRange | kStringIsRegistryKey | kStringNamesValue,
     "a registry value"},
    {kSearchMsiProductVersion, "MsiProductVersion", kReadsRange, "a product code"},
    {kSearchMsiUpgradeCodeVersions, "MsiUpgradeCodeVersions", kReadsRange, "an upgrade code"},
    {kSearchRegistryKeyExists, "RegistryKeyExists", kStringIsRegistryKey, "a registry key"},
    {kSearchRegistryKeyAbsent, "RegistryKeyAbsent", kStringIsRegistryKey, "a registry key"},
    {kSearchRegistryValueExists, "RegistryValueExists", kStringIsRegistryKey | kStringNamesValue, "a registry value"},
    {kSearchRegistryValueAbsent, "RegistryValueAbsent", kStringIsRegistryKey | kStringNamesValue, "a registry value"},
    {kSearchRegistryValueContent, "RegistryValueContent", kReadsRefContent | kStringIsRegistryKey | kStringNamesValue,
     "a registry value"},
    {kSearchProgramExitCode, "ProgramExitCode", kReadsRefContent | kReadsSearchCmdLine | kStringIsPackageFile,
     "a program of the package"},
    {kSearchMsiComponentInstalled, "MsiComponentInstalled", 0, "a component code"},
    {kSearchRegistryValueNames, "RegistryValueNames", kReadsRange | kStringIsRegistryKey, "a registry key"},
};

using G = GeneralOptions;
using P = Prerequisite;
using S = SearchEntry;
using C = ChainerSettings;

template <class R>
constexpr KeySchema<R> Text(const char16_t* name, WString R::*field, KeyUse use = KeyUse::kActs,
                            uint8_t locations = kUseAnyLocation) {
    return {name, ValueKind::kText, use, locations, field, nullptr, nullptr, nullptr};
}

template <class R>
constexpr KeySchema<R> Number(const char16_t* name, int32_t R::*field, ValueKind kind = ValueKind::kInteger,
                              uint8_t locations = kUseAnyLocation) {
    return {name, kind, KeyUse::kActs, locations, nullptr, field, nullptr, nullptr};
}

template <class R>
constexpr KeySchema<R> Size(const char16_t* name, uint64_t R::*field, uint8_t locations) {
    return {name, ValueKind::kSize, KeyUse::kActs, locations, nullptr, nullptr, nullptr, field};
}

template <class R>
constexpr KeySchema<R> Flag(const char16_t* name, bool R::*field, ValueKind kind) {
    return {name, kind, KeyUse::kCarried, kUseAnyLocation, nullptr, nullptr, field, nullptr};
}

const KeyUse kCarried = KeyUse::kCarried;
const KeyUse kActs = KeyUse::kActs;

}  // namespace

const KeySchema<GeneralOptions> kGeneralOptionKeys[] = {
    Text(u"MainAppCmdLine", &G::MainAppCmdLine, kCarried),
    Text(u"Options", &G::Options),
    Text(u"UpdatesUrl", &G::UpdatesUrl, kCarried),
    Text(u"ProductVersion", &G::ProductVersion, kCarried),
    Text(u"MinWIVer", &G::MinWIVer, kCarried),
    Text(u"DownloadFolder", &G::DownloadFolder),
    Text(u"MainAppURL", &G::MainAppURL, kCarried),
    Text(u"UwpAppxURL", &G::UwpAppxURL, kCarried),
    Text(u"LanguageList", &G::LanguageList, kCarried),
    Text(u"ExtractionFolder", &G::ExtractionFolder),
    Number(u"KeepFiles", &G::KeepFiles, ValueKind::kKeepFilesWord),
    Flag(u"PackJars", &G::PackJars, ValueKind::kTrueFlag),
    Flag(u"AllPlatforms", &G::AllPlatforms, ValueKind::kTrueFlag),
    Flag(u"Is64PlatformTransf", &G::Is64PlatformTransf, ValueKind::kTrueFlag),
    Text(u"Langs", &G::Langs, kCarried),
    Text(u"PackageCode", &G::PackageCode, kCarried),
    Text(u"DefaultProdCode", &G::DefaultProdCode),
    Text(u"ProductCode", &G::ProductCode, kCarried),
    Text(u"UpgradeCode", &G::UpgradeCode, kCarried),
    Flag(u"ExtUIStub", &G::ExtUIStub, ValueKind::kPresentFlag),
    Text(u"SaveExtUIStub", &G::SaveExtUIStub, kCarried),
    Text(u"FileExtractFirst", &G::FileExtractFirst, kCarried),
    Text(u"MsiCertData", &G::MsiCertData, kCarried),
    Text(u"AppxVersion", &G::AppxVersion, kCarried),
    Text(u"AppxPkId", &G::AppxPkId, kCarried),
    Text(u"Title", &G::Title),
};
const int kGeneralOptionKeyCount = sizeof(kGeneralOptionKeys) / sizeof(kGeneralOptionKeys[0]);

const KeySchema<Prerequisite> kPrerequisiteKeys[] = {
    Text(u"VerMin", &P::VerMin, kCarried),
    Text(u"VerMax", &P::VerMax, kCarried),
    Text(u"WinNTVersions", &P::WinNTVersions),
    Text(u"WinNT64Versions", &P::WinNT64Versions),
    // Checked before every launch: of a download, of a SetupFile too.
    Size(u"ExactSize", &P::ExactSize, kUseInstalled),
    Text(u"MD5", &P::MD5, kActs, kUseInstalled),
    Text(u"SHA256", &P::SHA256, kActs, kUseInstalled),
    Text(u"SignerThumbprint", &P::SignerThumbprint, kActs, kUseInstalled),
    Text(u"SignerName", &P::SignerName, kActs, kUseInstalled),
    Number(u"Operator", &P::Operator),
    Text(u"CommandLine", &P::CommandLine, kCarried),
    Text(u"BasicUiCommandLine", &P::BasicUiCommandLine, kActs, kUseInstalled),
    Text(u"NoUiCommandLine", &P::NoUiCommandLine, kActs, kUseInstalled),
    Text(u"Options", &P::Options),
    Text(u"RetValPropName", &P::RetValPropName, kActs, kUseInstalled),
    Text(u"ReturnCodes", &P::ReturnCodes, kActs, kUseInstalled),
    Text(u"ParentPrereq", &P::ParentPrereq),
    Text(u"Folder", &P::Folder, kActs, kUseUrl),
    Text(u"LanguageList", &P::LanguageList),
};
const int kPrerequisiteKeyCount = sizeof(kPrerequisiteKeys) / sizeof(kPrerequisiteKeys[0]);

const KeySchema<SearchEntry> kSearchKeys[] = {
    Number(u"SearchType", &S::SearchType),
    Text(u"SearchString", &S::SearchString),
    Text(u"VerMin", &S::VerMin),
    Text(u"VerMax", &S::VerMax),
    Text(u"RefContent", &S::RefContent),
    Text(u"SearchCmdLine", &S::SearchCmdLine),
};
const int kSearchKeyCount = sizeof(kSearchKeys) / sizeof(kSearchKeys[0]);

const KeySchema<ChainerSettings> kChainerKeys[] = {
    Text(u"CleanupFiles", &C::CleanupFiles),
    Text(u"CleanupFolders", &C::CleanupFolders),
    Text(u"LogFile", &C::LogFile),
    Text(u"CleanupScript", &C::CleanupScript),
};
const int kChainerKeyCount = sizeof(kChainerKeys) / sizeof(kChainerKeys[0]);

const SearchTypeSchema* FindSearchType(int32_t code) {
    for (const SearchTypeSchema& type : kSearchTypes)
        if (type.code == code) return &type;
    return nullptr;
}

int32_t KeepFilesCode(const WString& word) {
    if (word == u"complete") return kKeepFilesComplete;
    if (word == u"minimum") return kKeepFilesMinimum;
    if (word == u"prereqs") return kKeepFilesPrereqs;
    return kKeepFilesOther;
}

namespace {

template <class R>
void ReadKey(const KeySchema<R>& key, const WString& value, R* record) {
    switch (key.kind) {
        case ValueKind::kText: record->*key.text = value; break;
        case ValueKind::kInteger: record->*key.number = ParseLenientInt(value); break;
        case ValueKind::kSize: record->*key.size = ParseLenientSize(value); break;
        case ValueKind::kKeepFilesWord: record->*key.number = KeepFilesCode(value); break;
        case ValueKind::kTrueFlag: record->*key.flag = value.EqualsNoCase(u"true"); break;
        case ValueKind::kPresentFlag: record->*key.flag = !value.IsEmpty(); break;
    }
}

template <class R>
void ReadTable(const IniSection& section, const KeySchema<R>* keys, int count, R* record) {
    for (int i = 0; i < count; ++i)
        if (const IniPair* pair = section.FindValue(WString(keys[i].name))) ReadKey(keys[i], pair->value, record);
}

}  // namespace

void ReadKeys(const IniSection& section, const KeySchema<GeneralOptions>* keys, int count, GeneralOptions* record) {
    ReadTable(section, keys, count, record);
}
void ReadKeys(const IniSection& section, const KeySchema<Prerequisite>* keys, int count, Prerequisite* record) {
    ReadTable(section, keys, count, record);
}
void ReadKeys(const IniSection& section, const KeySchema<ChainerSettings>* keys, int count, ChainerSettings* record) {
    ReadTable(section, keys, count, record);
}

void ReadSearchKeys(const IniSection& section, int k, SearchEntry* record) {
    for (int i = 1; i < kSearchKeyCount; ++i)
        if (const IniPair* pair = section.FindValue(NumberedKey(kSearchKeys[i].name, k)))
            ReadKey(kSearchKeys[i], pair->value, record);
}

WString NumberedKey(const char16_t* base, int n) { return WString(base).AppendDecimal(n); }

const char16_t* LaunchCommandLineKey(const WString& generalOptions) {
    if (generalOptions.Contains(u'b')) return u"BasicUiCommandLine";
    if (generalOptions.Contains(u'q')) return u"NoUiCommandLine";
    return nullptr;
}

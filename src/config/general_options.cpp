#include "config/prerequisite.h"
#include "platform/path_rules.h"

namespace {

const char16_t kGeneralOptionsSection[] = u"GeneralOptions";

void ReadText(const IniSection& section, const char16_t* key, WString* field) {
    const IniPair* pair = section.FindValue(WString(key));
    if (pair) *field = pair->value;
}

// Only the word "true" (in any letter case) switches a flag on.
void ReadFlag(const IniSection& section, const char16_t* key, bool* field) {
    const IniPair* pair = section.FindValue(WString(key));
    if (pair) *field = pair->value.EqualsNoCase(u"true");
}

int32_t KeepFilesCode(const WString& word) {
    if (word == u"complete") return 2;
    if (word == u"minimum") return 1;
    if (word == u"prereqs") return 5;
    return 0;
}

}  // namespace

bool LoadGeneralOptions(const IniDocument& document, GeneralOptions* options) {
    const IniSection* section = document.FindSection(WString(kGeneralOptionsSection));
    if (!section) return true;

    ReadText(*section, u"MainAppCmdLine", &options->MainAppCmdLine);
    ReadText(*section, u"Options", &options->Options);
    ReadText(*section, u"UpdatesUrl", &options->UpdatesUrl);
    ReadText(*section, u"ProductVersion", &options->ProductVersion);
    ReadText(*section, u"MinWIVer", &options->MinWIVer);
    ReadText(*section, u"DownloadFolder", &options->DownloadFolder);
    ReadText(*section, u"MainAppURL", &options->MainAppURL);
    ReadText(*section, u"UwpAppxURL", &options->UwpAppxURL);
    ReadText(*section, u"LanguageList", &options->LanguageList);
    ReadText(*section, u"ExtractionFolder", &options->ExtractionFolder);
    if (const IniPair* keep = section->FindValue(WString(u"KeepFiles"))) options->KeepFiles = KeepFilesCode(keep->value);
    ReadFlag(*section, u"PackJars", &options->PackJars);
    ReadFlag(*section, u"AllPlatforms", &options->AllPlatforms);
    ReadFlag(*section, u"Is64PlatformTransf", &options->Is64PlatformTransf);
    ReadText(*section, u"Langs", &options->Langs);
    ReadText(*section, u"PackageCode", &options->PackageCode);
    ReadText(*section, u"DefaultProdCode", &options->DefaultProdCode);
    ReadText(*section, u"ProductCode", &options->ProductCode);
    ReadText(*section, u"UpgradeCode", &options->UpgradeCode);
    if (const IniPair* stub = section->FindValue(WString(u"ExtUIStub"))) options->ExtUIStub = !stub->value.IsEmpty();
    ReadText(*section, u"SaveExtUIStub", &options->SaveExtUIStub);
    ReadText(*section, u"FileExtractFirst", &options->FileExtractFirst);
    ReadText(*section, u"MsiCertData", &options->MsiCertData);
    ReadText(*section, u"AppxVersion", &options->AppxVersion);
    ReadText(*section, u"AppxPkId", &options->AppxPkId);

    // The extraction folder is kept in its rejoined form, ending with a
    // backslash, so that the package file locator can append names to it.
    options->ExtractionFolder = NormalisePath(options->ExtractionFolder);
    if (!options->ExtractionFolder.IsEmpty() && options->ExtractionFolder.Last() != u'\\')
        options->ExtractionFolder.Append(u'\\');
    return true;
}

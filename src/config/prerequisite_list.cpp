#include "config/prerequisite.h"
#include "platform/references.h"

namespace {

const char16_t kPrerequisitesSection[] = u"PREREQUISITES";

// Keys of the form <base><n>: App1, SearchType2, ...
WString NumberedKey(const char16_t* base, int n) { return Format(u"%s%d", WString(base), n); }

bool ReadText(const IniSection& section, const WString& key, WString* field) {
    const IniPair* pair = section.FindValue(key);
    if (pair) *field = pair->value;
    return pair != nullptr;
}

bool ReadText(const IniSection& section, const char16_t* key, WString* field) {
    return ReadText(section, WString(key), field);
}

void ReadInt(const IniSection& section, const char16_t* key, int32_t* field) {
    const IniPair* pair = section.FindValue(WString(key));
    if (pair) *field = ParseLenientInt(pair->value);
}

// Reads SearchType<k> and its companions for k = 1, 2, ... The list ends at
// the first missing SearchType<k>; a type without its SearchString<k> makes
// the whole definition incomplete.
bool ReadSearches(const IniSection& section, Array<SearchEntry>* searches) {
    for (int k = 1;; ++k) {
        const IniPair* type = section.FindValue(NumberedKey(u"SearchType", k));
        if (!type) return true;
        SearchEntry entry;
        entry.SearchType = ParseLenientInt(type->value);
        if (!ReadText(section, NumberedKey(u"SearchString", k), &entry.SearchString)) return false;
        ReadText(section, NumberedKey(u"VerMin", k), &entry.VerMin);
        ReadText(section, NumberedKey(u"VerMax", k), &entry.VerMax);
        ReadText(section, NumberedKey(u"RefContent", k), &entry.RefContent);
        ReadText(section, NumberedKey(u"SearchCmdLine", k), &entry.SearchCmdLine);
        searches->Add(entry);
    }
}

}  // namespace

bool LoadPrerequisiteDefinition(const IniDocument& document, int n, Prerequisite* record) {
    const IniSection* list = document.FindSection(WString(kPrerequisitesSection));
    if (!list) return false;
    WString sectionName = NumberedKey(u"App", n);
    if (!ReadText(*list, sectionName, &record->Name)) return false;
    // The definition lives in the section named after the key (App<N>), not
    // after the display name.
    const IniSection* section = document.FindSection(sectionName);
    if (!section) return false;

    ReadText(*section, u"VerMin", &record->VerMin);
    ReadText(*section, u"VerMax", &record->VerMax);
    ReadText(*section, u"WinNTVersions", &record->WinNTVersions);
    ReadText(*section, u"WinNT64Versions", &record->WinNT64Versions);

    if (ReadText(*section, u"SetupFile", &record->Location))
        record->LocationKind = kLocationSetupFile;
    else if (ReadText(*section, u"OpenSite", &record->Location))
        record->LocationKind = kLocationOpenSite;
    else if (ReadText(*section, u"Url", &record->Location))
        record->LocationKind = kLocationUrl;
    else
        return false;

    ReadInt(*section, u"ExactSize", &record->ExactSize);
    ReadText(*section, u"MD5", &record->MD5);
    ReadText(*section, u"SHA256", &record->SHA256);
    ReadInt(*section, u"Operator", &record->Operator);

    ReadText(*section, u"CommandLine", &record->CommandLine);
    ReadText(*section, u"BasicUiCommandLine", &record->BasicUiCommandLine);
    ReadText(*section, u"NoUiCommandLine", &record->NoUiCommandLine);
    ReadText(*section, u"Options", &record->Options);
    ReadText(*section, u"RetValPropName", &record->RetValPropName);
    ReadText(*section, u"ParentPrereq", &record->ParentPrereq);
    ReadText(*section, u"Folder", &record->Folder);
    ReadText(*section, u"LanguageList", &record->LanguageList);

    return ReadSearches(*section, &record->Searches);
}

void PrerequisiteList::Load(const IniDocument& document, ReferenceResolver& resolver) {
    LoadGeneralOptions(document, &options);
    for (int n = 1; n < 0x7FFFFFFF; ++n) {
        Prerequisite record;
        if (!LoadPrerequisiteDefinition(document, n, &record)) break;
        if (!record.LanguageList.IsEmpty() && record.LanguageList.Last() != u';') record.LanguageList.Append(u';');
        if (record.LocationKind == kLocationUrl || record.LocationKind == kLocationOpenSite)
            record.Location = ExpandReferences(record.Location, false, resolver);
        record.IgnoreOption = record.HasOption(u'i');
        items.Add(record);
    }
}

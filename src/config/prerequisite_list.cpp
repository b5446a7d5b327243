#include "config/ini_schema.h"
#include "config/prerequisite.h"
#include "platform/references.h"

namespace {

bool ReadText(const IniSection& section, const WString& key, WString* field) {
    const IniPair* pair = section.FindValue(key);
    if (pair) *field = pair->value;
    return pair != nullptr;
}

// Reads SearchType<k> and its companions for k = 1, 2, ... The list ends at
// the first missing SearchType<k>; a type without its SearchString<k> makes
// the whole definition incomplete.
bool ReadSearches(const IniSection& section, Array<SearchEntry>* searches) {
    for (int k = 1;; ++k) {
        const IniPair* type = section.FindValue(NumberedKey(kSearchKeys[0].name, k));
        if (!type) return true;
        if (!section.FindValue(NumberedKey(kSearchKeys[1].name, k))) return false;
        SearchEntry entry;
        entry.SearchType = ParseLenientInt(type->value);
        ReadSearchKeys(section, k, &entry);
        searches->Add(entry);
    }
}

}  // namespace

bool LoadPrerequisiteDefinition(const IniDocument& document, int n, Prerequisite* record) {
    const IniSection* list = document.FindSection(WString(kPrerequisitesSection));
    if (!list) return false;
    WString sectionName = NumberedKey(kAppKeyBase, n);
    if (!ReadText(*list, sectionName, &record->Name)) return false;
    // The definition lives in the section named after the key (App<N>), not
    // after the display name.
    const IniSection* section = document.FindSection(sectionName);
    if (!section) return false;

    bool located = false;
    for (const LocationKeySchema& key : kLocationKeys) {
        if (ReadText(*section, WString(key.name), &record->Location)) {
            record->LocationKind = key.kind;
            located = true;
            break;
        }
    }
    if (!located) return false;
    ReadKeys(*section, kPrerequisiteKeys, kPrerequisiteKeyCount, record);
    if (record->LocationKind == kLocationUrl) {
        // The mirrors end at the first number that is missing.
        for (int k = 2;; ++k) {
            const IniPair* mirror = section->FindValue(NumberedKey(kMirrorUrlBase, k));
            if (!mirror) break;
            record->MirrorUrls.Add(mirror->value);
        }
    }
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
        for (WString& mirror : record.MirrorUrls) mirror = ExpandReferences(mirror, false, resolver);
        record.IgnoreOption = record.HasOption(u'i');
        items.Add(record);
    }
}

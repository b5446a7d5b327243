// The configuration file's layout in one place: every section, every key the
// loaders read, the kind of its value, its default, and where it has an
// effect. The loaders of this folder read the records through these tables
// and the setup author's checker judges a file by them, so a key cannot be
// known to one and unknown to the other. Portable.
#pragma once

#include <stdint.h>

#include "base/wstr.h"

struct GeneralOptions;
struct Prerequisite;
struct SearchEntry;
struct ChainerSettings;

extern const char16_t kGeneralOptionsSection[];  // GeneralOptions
extern const char16_t kPrerequisitesSection[];   // PREREQUISITES
extern const char16_t kChainerSection[];         // PREREQ_CHAINER
extern const char16_t kAppKeyBase[];             // App: App<N> in PREREQUISITES, and the section [App<N>]
// Url2, Url3, ...: mirrors of a Url, numbered from 2 without gaps.
extern const char16_t kMirrorUrlBase[];

// The three keys that give a prerequisite its location, in the order of
// their precedence (the first present wins), with the kind each one gives.
struct LocationKeySchema {
    const char16_t* name;
    int32_t kind;  // LocationKindCode
};
extern const LocationKeySchema kLocationKeys[3];

enum SearchTypeCode {
    kSearchFileVersion = 0,
    kSearchRegistrySubkeys = 1,
    kSearchRegistryValueVersion = 2,
    kSearchMsiProductVersion = 3,
    kSearchMsiUpgradeCodeVersions = 4,
    kSearchRegistryKeyExists = 5,
    kSearchRegistryKeyAbsent = 6,
    kSearchRegistryValueExists = 7,
    kSearchRegistryValueAbsent = 8,
    kSearchRegistryValueContent = 9,
    kSearchProgramExitCode = 10,
    kSearchMsiComponentInstalled = 11,
    kSearchRegistryValueNames = 12,
};

// Which numbered keys a search type reads, and what its SearchString is.
enum SearchReads : uint8_t {
    kReadsRange = 1,          // VerMin<k>, VerMax<k>
    kReadsRefContent = 2,     // RefContent<k>
    kReadsSearchCmdLine = 4,  // SearchCmdLine<k>
    kStringIsRegistryKey = 8,     // SearchString<k> is ROOT\key
    kStringNamesValue = 16,       // ... ROOT\key\value (empty value name: the default value)
    kStringExpanded = 32,         // references in SearchString<k> are expanded
    kStringIsPackageFile = 64,    // a file of the package, found by the package file locator
};

struct SearchTypeSchema {
    int32_t code;
    const char* name;
    uint8_t reads;  // SearchReads
    const char* what;  // what the SearchString names
};

// The type's description; null for a code no search type has (such a
// search looks for nothing and counts as found).
const SearchTypeSchema* FindSearchType(int32_t code);

// How the chainer turns a key's text into the record's value.
enum class ValueKind {
    kText,          // as written (trimmed)
    kInteger,       // lenient decimal: '12abc' is 12, 'x' is 0
    kSize,          // the same rule in 64 bits, never wrapped (ParseLenientSize)
    kTrueFlag,      // true only for "true" in any letter case
    kPresentFlag,   // true when the key is present with a value that is not empty
    kKeepFilesWord, // complete 2, minimum 1, prereqs 5, anything else 0
};

// Where a key has an effect.
enum class KeyUse {
    kActs,     // the chainer acts on it
    kCarried,  // held in the record; the chainer's flow reads it nowhere
};

// Bits of the location kinds in which a prerequisite key has an effect.
enum LocationUse : uint8_t {
    kUseSetupFile = 1,
    kUseUrl = 2,
    kUseOpenSite = 4,
    kUseAnyLocation = 7,
    kUseInstalled = kUseSetupFile | kUseUrl,  // the setup is launched
};

template <class Record>
struct KeySchema {
    const char16_t* name;  // numbered keys: the base (SearchType for SearchType<k>)
    ValueKind kind;
    KeyUse use;
    uint8_t locations;  // LocationUse; prerequisite keys only
    WString Record::*text;
    int32_t Record::*number;
    bool Record::*flag;
    uint64_t Record::*size;
};

extern const KeySchema<GeneralOptions> kGeneralOptionKeys[];
extern const int kGeneralOptionKeyCount;
extern const KeySchema<Prerequisite> kPrerequisiteKeys[];  // without the location keys
extern const int kPrerequisiteKeyCount;
extern const KeySchema<SearchEntry> kSearchKeys[];         // bases of the numbered search keys
extern const int kSearchKeyCount;
extern const KeySchema<ChainerSettings> kChainerKeys[];
extern const int kChainerKeyCount;

// The KeepFiles code of a word.
int32_t KeepFilesCode(const WString& word);

// Reads the keys of a table present in the section into the record.
class IniSection;
void ReadKeys(const IniSection& section, const KeySchema<GeneralOptions>* keys, int count, GeneralOptions* record);
void ReadKeys(const IniSection& section, const KeySchema<Prerequisite>* keys, int count, Prerequisite* record);
void ReadKeys(const IniSection& section, const KeySchema<ChainerSettings>* keys, int count, ChainerSettings* record);
// The numbered keys of search k (SearchType<k> aside).
void ReadSearchKeys(const IniSection& section, int k, SearchEntry* record);

// <base><n>: App1, SearchType2, ...
WString NumberedKey(const char16_t* base, int n);

// The command-line key a run with these general Options launches setups
// with: BasicUiCommandLine when they contain "b" (also with "q"),
// NoUiCommandLine with "q" alone; null when the run installs nothing.
const char16_t* LaunchCommandLineKey(const WString& generalOptions);

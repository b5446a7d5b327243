// What the checks of the sections share: the document, the records the
// chainer's own loaders make of it, where the messages go, and the checks of
// single values (numbers, option letters, versions, references, registry
// paths) that several sections use.
#pragma once

#include <stdint.h>

#include "base/array.h"
#include "base/wstr.h"
#include "check/config_checker.h"
#include "check/diagnostics.h"
#include "config/ini_document.h"
#include "config/prerequisite.h"

// What a search answers on the machines it can meet: on any machine,
// whatever it looks for (kDepends), or the same everywhere because of how it
// is written. The message says why (e.g. "SearchType 13 is unknown: it looks
// for nothing and counts as found"); the prediction of the run adds what
// that does to the prerequisite.
enum class SearchAnswer { kDepends, kAlwaysFound, kNeverFound };
struct SearchFact {
    int k = 0;
    int line = 0;
    SearchAnswer answer = SearchAnswer::kDepends;
    Severity severity = Severity::kError;
    const char* rule = "fixed-search-result";
    WString message;
    WString advice;  // what to write instead, after what the run does
};

// What the checks of one section [App<N>] found for the prediction.
struct SectionFacts {
    int n = 0;
    int line = 0;            // the section's header
    int searchCount = 0;     // SearchType1, 2, ... as the loader reads them
    Array<SearchFact> fixed;  // searches whose answer does not depend on the machine, in order of k
    int unreadSearchLine = 0;  // a search key the loader never reads (SearchType0, Searchtype1): its line
    WString unreadSearchKey;
    bool programMissing = false;  // with --files
    // The filters exclude it on every Windows: where, and why.
    int excludedLine = 0;
    WString excludedWhy;
    bool osExcluded32 = false, osExcluded64 = false;  // WinNTVersions / WinNT64Versions name every Windows
};

struct CheckContext {
    CheckContext(const IniDocument& document, const CheckOptions& checkOptions, DiagnosticList* list)
        : doc(document), options(checkOptions), out(list) {}

    const IniDocument& doc;
    const CheckOptions& options;
    DiagnosticList* out;
    GeneralOptions general;         // as the chainer loads it
    Array<Prerequisite> records;    // the prerequisites the chainer loads
    int maxApp = 0;                 // the highest N of an App<N> in PREREQUISITES
    bool osNamesListed = false;
    Array<SectionFacts> sections;  // every listed [App<N>] that was checked

    SectionFacts* FactsOf(int n) {
        for (SectionFacts& facts : sections)
            if (facts.n == n) return &facts;
        return nullptr;
    }

    const IniSection* Section(const WString& name) const { return doc.FindSection(name); }
    static const IniPair* Key(const IniSection* section, const char16_t* key) {
        return section ? section->FindValue(WString(key)) : nullptr;
    }
    // The line of a key, else of the section header, else 0.
    static int LineOf(const IniPair* pair, const IniSection* section) {
        return pair ? pair->line : section ? section->Line() : 0;
    }
};

// The checks of each section, in the order the checker runs them.
void CheckGeneralOptionsSection(CheckContext* context);
void CheckPrerequisiteListSection(CheckContext* context);  // every App<N> too
void CheckPrerequisiteSection(CheckContext* context, const IniSection& section, bool loaded);
void CheckSearches(CheckContext* context, const IniSection& section, SectionFacts* facts);
// A search key the loader never reads: numbered from 0 or with a leading
// zero (SearchType0, SearchString01), without a number, or misspelt
// (Searchtype1, SerchString2); CheckSearches reports it. *base is the
// search key it stands for (SearchType, ...).
bool IsUnreadSearchKey(const WString& key, WString* base, bool* misnumbered);
void CheckChainerSection(CheckContext* context);
// Predicts what the run does with every loaded prerequisite on a machine
// that lacks everything and on one that has everything the searches look
// for, and reports what cannot be what the author meant.
void PredictRun(CheckContext* context);

// --- shared pieces of text ----------------------------------------------------
WString Quoted(const WString& text);
WString Decimal(int64_t value);
WString Joined(const Array<WString>& names, const char16_t* separator);
// " (did you mean 'X'?)", or empty when no candidate is close.
WString DidYouMean(const WString& name, const Array<WString>& candidates);
Array<WString> ListOf(const char16_t* const* list);
bool AllDigits(const WString& text);
// The entries of a list separated by one character, empty ones included
// (none for an empty text).
Array<WString> Entries(const WString& text, char16_t separator);

// --- values ---------------------------------------------------------------------
// A value wholly in double (or single) quotes, which the chainer keeps.
bool IsQuoted(const WString& text);
// "Url reads as "x" with its quotes (...): <effect>; write Url=x" (the
// advice only when asked for).
WString QuotedReading(const IniPair& pair, const WString& effect, bool advice = true);
WString QuotedAdvice(const IniPair& pair);  // "write Url=x"
enum class NumberForm { kClean, kNoDigits, kTrailingText, kOutOfRange };
// A strict decimal number: optional sign, digits, nothing else. *value is
// the value the chainer's lenient reading gives.
NumberForm ClassifyNumber(const WString& text, int64_t* value);
// Reports a number that the lenient reading takes differently from how it
// looks; answers the value the chainer reads.
int32_t CheckNumber(const IniPair& pair, DiagnosticList* out);
// The same for a size in bytes (ExactSize), read in 64 bits.
void CheckSize(const IniPair& pair, DiagnosticList* out);
// Letters outside the set mean nothing; meaning says which ones count.
void CheckOptionLetters(const IniPair& pair, const char16_t* letters, const WString& meaning, DiagnosticList* out);
// A VerMin<k>/VerMax<k> pair: reports texts that set no bound and a maximum
// that stops at .0.0; answers why no version is ever acceptable (a minimum
// above the maximum), else empty.
WString CheckRange(const IniPair* minPair, const IniPair* maxPair, DiagnosticList* out);

// How the chainer treats the references in a value.
enum class Expansion {
    kAll,                 // folder properties, environment variables, registry values
    kUrl,                 // all three, in a URL (where "%20" and the like are common)
    kFolderProperties,    // only [...] is resolved (the command line of a downloaded setup)
    kLocalSystemOnly,     // [...] resolved only in a launch under LocalSystem (a package's setup)
    kNone,                // used exactly as written
};
void CheckReferences(const IniPair& pair, DiagnosticList* out, Expansion expansion = Expansion::kAll);
// HKLM, HKEY_LOCAL_MACHINE, ... HKU, HKEY_USERS (any letter case).
bool IsRegistryRoot(const WString& root);
Array<WString> RegistryRoots();
// A registry path of a search (never found without a backslash) or of a
// reference (then it expands to nothing).
void CheckRegistryPath(const IniPair& pair, const WString& path, DiagnosticList* out, bool reference = false);
// With --files: a relative file of the package (what: "SetupFile",
// "program") that is not in the files folder. Reported, or with missing
// given only described there; true when the file is missing.
bool CheckPackageFile(CheckContext* context, const IniPair& pair, const WString& relative, const char16_t* what,
                      WString* missing = nullptr);
// A configured path or folder whose meaning depends on the current folder
// (a relative path) once its references are expanded.
bool DependsOnCurrentFolder(const WString& path);

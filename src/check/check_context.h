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
void CheckSearches(CheckContext* context, const IniSection& section);
void CheckChainerSection(CheckContext* context);

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
// A VerMin/VerMax pair: texts that set no bound, and a minimum above the maximum.
void CheckRange(const IniPair* minPair, const IniPair* maxPair, DiagnosticList* out);

// How the chainer treats the references in a value.
enum class Expansion {
    kAll,                 // folder properties, environment variables, registry values
    kUrl,                 // all three, in a URL (where "%20" and the like are common)
    kFolderProperties,    // only [...] is resolved (the command line of a downloaded setup)
    kLocalSystemOnly,     // [...] resolved only in a launch under LocalSystem (a package's setup)
    kNone,                // used exactly as written
};
void CheckReferences(const IniPair& pair, DiagnosticList* out, Expansion expansion = Expansion::kAll);
// A registry path of a search (never found without a backslash) or of a
// reference (then it expands to nothing).
void CheckRegistryPath(const IniPair& pair, const WString& path, DiagnosticList* out, bool reference = false);
// With --files: a relative file of the package (what: "SetupFile",
// "program") that is not in the files folder.
void CheckPackageFile(CheckContext* context, const IniPair& pair, const WString& relative, const char16_t* what);
// A configured path or folder whose meaning depends on the current folder
// (a relative path) once its references are expanded.
bool DependsOnCurrentFolder(const WString& path);

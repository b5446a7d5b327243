// The rules of the search engine that need no system: the range test over
// collected values, the depth suffix of a file search, the combination of
// search answers under a prerequisite's operator. Portable.
#pragma once

#include <stdint.h>

#include "base/array.h"
#include "base/wstr.h"
#include "evaluation/version.h"

// The acceptable range of one search, parsed once from its VerMin / VerMax.
struct SearchRange {
    VersionValue minimum;
    VersionValue maximum;
    SearchRange() {}
    SearchRange(const WString& verMin, const WString& verMax);
    bool HasBound() const { return !minimum.IsZero() || !maximum.IsZero(); }
};

// Found for the version-collecting searches: no values never; no bound set
// means any value at all; otherwise the first value that parses to something
// other than 0.0.0.0 and lies within the set bounds.
bool FoundValuesAcceptable(const Array<WString>& values, const SearchRange& range);

// How the version resource of a file found by a file-version search was read.
enum class FileVersionRead {
    kRead,           // its fixed file version, in versionMS / versionLS
    kNoResource,     // the file has none (or it cannot be read)
    kReaderMissing,  // version.dll or one of its functions could not be loaded
};
// The text the search collects for the file: "%d.%d.%d.%d" of the four 16-bit
// parts, "0.0.0.0" for a file without a version resource, and nothing (false)
// when the reader is missing, so that a search without a range is not found
// only because the system could not tell.
bool CollectedFileVersion(FileVersionRead read, uint32_t versionMS, uint32_t versionLS, WString* text);

// A file search text "path?depth": the "?" counts only after the first
// character. Without a suffix, *pathPart is the whole text and *suffix empty.
void SplitDepthSuffix(const WString& searchString, WString* pathPart, WString* suffix);
// The folder depth of a suffix "?N": the lenient number after the "?", at
// least 0.
int32_t DepthOfSuffix(const WString& suffix);
// A path (or a reference that expands to one) rather than a bare file name
// to look for on every fixed drive.
bool IsPathLikeFileSearch(const WString& pathPart);

// Combines the answers of a prerequisite's searches in order: operator 0
// AND, 1 OR, any other value always false (all searches run).
class SearchCombiner {
public:
    explicit SearchCombiner(int32_t op) : op_(op), answer_(op == 0) {}
    // Adds one search's answer; false when the remaining searches are not run.
    bool Add(bool found);
    bool Answer() const { return answer_; }

private:
    int32_t op_;
    bool answer_;
};

// The status text of an action code as the "Search result:" line shows it.
const char16_t* ActionStatusText(int32_t action);

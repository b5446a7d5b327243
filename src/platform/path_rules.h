// Path string rules: long-path prefixes, splitting, normalising. Portable.
#pragma once

#include "base/array.h"
#include "base/wstr.h"

// "\\?\" and "\\?\UNC\".
extern const char16_t kLongPrefix[];
extern const char16_t kLongUncPrefix[];

// True for a network path (two leading backslashes, not a "\\?\" prefix).
bool IsNetworkPath(const WString& path);

// Only absolute paths (two leading backslashes or a drive colon) get a prefix.
// Variant used by the file finder: paths of 260..32766 units get the prefix.
WString AddLongPrefixForFinder(const WString& path);
// Variant for paths kept by the download and open-site work: 248 or more
// units, absolute paths only.
WString AddLongPrefixForStorage(const WString& path);
// Variant for deleting files and removing directories: 260 or more units;
// network paths take "\\?\UNC\" so that long network paths can be removed too.
WString AddLongPrefixForDelete(const WString& path);
// \\?\UNC\x -> \\x; \\?\x -> x; other paths unchanged.
WString RemoveLongPrefix(const WString& path);

WString ParentFolder(const WString& path);    // before the last backslash
WString FileNameOfPath(const WString& path);  // after the last backslash
Array<WString> SplitPath(const WString& path);
WString NormalisePath(const WString& path);
WString RootOfPath(const WString& path);
// Absolute: a colon as second character ("X:...") or two backslashes first
// ("\\\\server\\share..."); anything else is relative to some folder.
bool IsAbsolutePath(const WString& path);

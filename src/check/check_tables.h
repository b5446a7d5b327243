// What the chainer knows by name: the keys of its schema, folder properties
// and the names Windows is given by the OS tables; and the nearest known name
// to a misspelt one.
#pragma once

#include "base/array.h"
#include "base/wstr.h"
#include "platform/references.h"

// The key names the loaders read in a section: GeneralOptions,
// PREREQ_CHAINER, a prerequisite's section (location keys included), and
// the bases of the numbered search keys.
enum class KeySet { kGeneralOptions, kChainer, kPrerequisite, kSearchBases };
Array<WString> KnownKeys(KeySet set);
bool IsKnownKey(KeySet set, const WString& name);

bool IsInList(const char16_t* const* list, const WString& name);

// A key of the form <base><k>, k a decimal number from 1 without leading
// zeros: the base and k (0 when the key has no such form).
int NumberedKeyIndex(const WString& key, WString* base);

// Every name the OS tables can give a Windows (detailed and generic names,
// and "OsNotIdentified"), in table order without repeats.
const Array<WString>& AllOsNames();

// The nearest candidate: the same letters in another case, or one or two
// edits away (an edit being an insertion, deletion, change or swap of
// adjacent letters). Empty when none is close.
WString NearestName(const WString& name, const Array<WString>& candidates);

// Edit distance with swaps of adjacent units counted as one edit.
int EditDistance(const WString& a, const WString& b);

// The content test of a registry-value search: the first character of the
// reference text is an operator letter, the rest is the operand. Portable.
#pragma once

#include "base/wstr.h"

// C contains, X does not contain, S starts with, E ends with, M equals,
// D differs, G / L numerically greater / less (decimal digits only, the
// empty text counting as 0). Any other first character, and an empty
// reference, give false. Comparisons are case-sensitive, unit by unit, over
// the whole content (embedded NULs of a multi-string included).
bool ContentTestPasses(const WString& content, const WString& refContent);

// Compares two texts of decimal digits as numbers of any length: <0, 0, >0.
// False in *valid when either holds another character.
int CompareDecimalTexts(const WString& a, const WString& b, bool* valid);

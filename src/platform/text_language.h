// Which of the languages the executable's texts are shipped in a user sees:
// the user's UI language when it is shipped, else a language of the same
// family (Portuguese of Portugal reads Brazilian Portuguese; Chinese only
// within its script), else English. Portable.
#pragma once

#include <stdint.h>

constexpr uint16_t kEnglishLanguage = 0x0409;  // English (United States)

uint16_t ChooseTextLanguage(uint16_t userLanguage, const uint16_t* shipped, int count);

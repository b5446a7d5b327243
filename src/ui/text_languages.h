// The languages the chainer's texts are shipped in, in the column order of
// ui/ui_texts.inc, and how many of the texts each one covers. Portable: the
// resource script builds its string tables from the same lists.
#pragma once

#include <stdint.h>

struct TextLanguage {
    uint16_t languageId;  // the Windows language identifier of its resources
    const char* tag;      // "de-DE"
    const char* name;     // "German"
};

extern const TextLanguage kTextLanguages[];
extern const int kTextLanguageCount;

// One text in every language (English first); an empty text is missing.
struct ShippedText {
    int id;
    const char16_t* texts[9];
};
// The texts of the windows and boxes, then those of the result codes.
extern const ShippedText kShippedTexts[];
extern const int kShippedTextCount;

// How many texts the language (index into kTextLanguages) has.
int TextsCovered(int language);

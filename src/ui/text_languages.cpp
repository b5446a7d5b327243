#include "ui/text_languages.h"

#include "base/resource_ids.h"
#include "download/result_codes.h"

const TextLanguage kTextLanguages[] = {
    {0x0409, "en-US", "English"},
    {0x0407, "de-DE", "German"},
    {0x040C, "fr-FR", "French"},
    {0x0C0A, "es-ES", "Spanish"},
    {0x0410, "it-IT", "Italian"},
    {0x0416, "pt-BR", "Portuguese (Brazil)"},
    {0x0411, "ja-JP", "Japanese"},
    {0x0804, "zh-CN", "Chinese (Simplified)"},
    {0x0419, "ru-RU", "Russian"},
};
const int kTextLanguageCount = sizeof(kTextLanguages) / sizeof(kTextLanguages[0]);

namespace {
// The English result texts by id, to put in front of their translations.
struct EnglishResult {
    int id;
    const char16_t* text;
};
#define RESULT_TEXT(code, name, id, text) {id, u"" text},
const EnglishResult kEnglishResults[] = {
#include "ui/result_texts.inc"
};
#undef RESULT_TEXT

const char16_t* EnglishResultText(int id) {
    for (const EnglishResult& r : kEnglishResults)
        if (r.id == id) return r.text;
    return u"";
}
}  // namespace

#define UI_TEXT(id, en, de, fr, es, it, pt, ja, zh, ru) \
    {id, {u"" en, u"" de, u"" fr, u"" es, u"" it, u"" pt, u"" ja, u"" zh, u"" ru}},
#define RESULT_TRANSLATION(id, de, fr, es, it, pt, ja, zh, ru) \
    {id, {EnglishResultText(id), u"" de, u"" fr, u"" es, u"" it, u"" pt, u"" ja, u"" zh, u"" ru}},
const ShippedText kShippedTexts[] = {
#include "ui/ui_texts.inc"
#include "ui/result_translations.inc"
};
#undef UI_TEXT
#undef RESULT_TRANSLATION
const int kShippedTextCount = sizeof(kShippedTexts) / sizeof(kShippedTexts[0]);

int TextsCovered(int language) {
    int covered = 0;
    for (const ShippedText& text : kShippedTexts) {
        const char16_t* t = text.texts[language];
        if (t && *t) ++covered;
    }
    return covered;
}

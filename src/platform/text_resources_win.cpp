#include "platform/text_resources_win.h"

#include "base/array.h"
#include "base/once_win.h"
#include "base/resource_ids.h"
#include "platform/text_language.h"

namespace {

OnceFlag g_languageOnce;
LANGID g_language = kEnglishLanguage;

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR context) {
    reinterpret_cast<Array<uint16_t>*>(context)->Add(language);
    return TRUE;
}

// The block of the string table holding the string, in one language.
const uint16_t* StringBlock(UINT id, LANGID language, DWORD* bytes) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    if (!found) return nullptr;
    HGLOBAL loaded = LoadResource(module, found);
    *bytes = SizeofResource(module, found);
    return loaded ? static_cast<const uint16_t*>(LockResource(loaded)) : nullptr;
}

// A block is 16 counted strings one after the other.
WString StringOfBlock(UINT id, LANGID language) {
    DWORD bytes = 0;
    const uint16_t* block = StringBlock(id, language, &bytes);
    if (!block) return WString();
    const DWORD units = bytes / 2;
    DWORD at = 0;
    for (UINT i = 0; i < id % 16; ++i) {
        if (at >= units) return WString();
        at += 1 + block[at];
    }
    if (at >= units || at + 1 + block[at] > units) return WString();
    return WString(reinterpret_cast<const char16_t*>(block + at + 1), block[at]);
}

}  // namespace

LANGID TextLanguageId() {
    g_languageOnce.Run([] {
        // The languages the texts are shipped in: those of the block that
        // holds the title, which every language has.
        Array<uint16_t> shipped;
        EnumResourceLanguagesW(GetModuleHandleW(nullptr), RT_STRING, MAKEINTRESOURCEW(IDS_SETUP_TITLE / 16 + 1),
                               CollectLanguage, reinterpret_cast<LONG_PTR>(&shipped));
        g_language = ChooseTextLanguage(GetUserDefaultUILanguage(), shipped.IsEmpty() ? nullptr : &shipped[0],
                                        shipped.Size());
    });
    return g_language;
}

const DLGTEMPLATE* TextDialogTemplate(UINT id) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceExW(module, RT_DIALOG, MAKEINTRESOURCEW(id), TextLanguageId());
    if (!found) found = FindResourceExW(module, RT_DIALOG, MAKEINTRESOURCEW(id), kEnglishLanguage);
    if (!found) return nullptr;
    HGLOBAL loaded = LoadResource(module, found);
    return loaded ? static_cast<const DLGTEMPLATE*>(LockResource(loaded)) : nullptr;
}

WString LoadResourceString(UINT id) {
    WString text = StringOfBlock(id, TextLanguageId());
    if (text.IsEmpty() && TextLanguageId() != kEnglishLanguage) text = StringOfBlock(id, kEnglishLanguage);
    return text;
}

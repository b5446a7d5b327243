#include "check/code_explanations.h"

#include "download/result_codes.h"

// The list the progress dialog's texts come from too.
#define RESULT_TEXT(code, name, id, text) {code, u"" #name, u"" text},
const CodeExplanation kCodeExplanations[] = {
#include "ui/result_texts.inc"
};
#undef RESULT_TEXT
const int kCodeExplanationCount = sizeof(kCodeExplanations) / sizeof(kCodeExplanations[0]);

bool ParseResultCode(const WString& text, uint32_t* code) {
    WString t = text.Trimmed();
    if (t.IsEmpty()) return false;
    bool hex = t.StartsWithNoCase(u"0x");
    int start = hex ? 2 : 0;
    bool negative = !hex && t[0] == u'-';
    if (negative) start = 1;
    if (!hex)
        for (int i = start; i < t.Length(); ++i)
            if (HexDigitValue(t[i]) >= 10) hex = true;  // letters: hexadecimal without a prefix
    if (negative && hex) return false;
    if (start == t.Length()) return false;
    uint64_t value = 0;
    for (int i = start; i < t.Length(); ++i) {
        int digit = HexDigitValue(t[i]);
        if (digit < 0 || (!hex && digit > 9)) return false;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFull) return false;
    }
    if (negative) {
        if (value > 0x80000000ull) return false;
        value = (0x100000000ull - value) & 0xFFFFFFFFull;
    }
    *code = static_cast<uint32_t>(value);
    return true;
}

const CodeExplanation* ExplainCode(uint32_t code) {
    for (int i = 0; i < kCodeExplanationCount; ++i)
        if (kCodeExplanations[i].code == code) return &kCodeExplanations[i];
    return nullptr;
}

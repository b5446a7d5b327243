// What the result codes in log lines mean, for `corvane-check --explain`; the
// rows are those of ui/result_texts.inc, whose texts the progress dialog shows.
#pragma once

#include <stdint.h>

#include "base/wstr.h"

struct CodeExplanation {
    uint32_t code;
    const char16_t* name;
    const char16_t* meaning;
};

// The one table, ordered by code.
extern const CodeExplanation kCodeExplanations[];
extern const int kCodeExplanationCount;

// A code as a log line shows it: decimal ("1603"), negative decimal
// ("-536870888") or hexadecimal ("0xE0000018", "E0000018"). False when the
// text is none of these or does not fit in 32 bits.
bool ParseResultCode(const WString& text, uint32_t* code);
// The table's entry for the code, or null.
const CodeExplanation* ExplainCode(uint32_t code);

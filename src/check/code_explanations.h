// What the result codes in log lines mean, for `corvane-check --explain`; the
// rows are those of ui/result_texts.inc, whose texts the progress dialog shows.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

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

// What a code means to the chainer, as text for --explain: its name and
// meaning in the log's table, its meaning as the chainer's exit code (0, 1,
// -1), and what it does as a setup's return code. With a package (the INI
// file's bytes, any form the chainer reads), what it does under each
// prerequisite's ReturnCodes; without one, the rule of every package. *known
// is true when the chainer knows the code by name or as its exit code.
std::string ExplainCodeText(uint32_t code, const uint8_t* package, size_t packageSize, bool withPackage, bool* known);

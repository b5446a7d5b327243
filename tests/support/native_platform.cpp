// Native stand-ins for the platform pieces the portable code calls: the hard
// failure and the log sink (lines are captured for tests).
#include <stdio.h>
#include <stdlib.h>

#include "base/fatal.h"
#include "log/log.h"
#include "native_platform.h"

[[noreturn]] void RaiseFailure(uint32_t code) {
    fprintf(stderr, "fatal failure 0x%08x\n", code);
    abort();
}

static Array<WString>* g_lines = nullptr;

void LogLine(const WString& text) {
    if (!g_lines) g_lines = new Array<WString>();
    g_lines->Add(text);
}

Array<WString>& CapturedLogLines() {
    if (!g_lines) g_lines = new Array<WString>();
    return *g_lines;
}

// Process-wide flags and the one entry point for log lines. Portable: the
// Windows build writes through the Logger; native test builds capture lines.
#pragma once

#include "base/wstr.h"

// Set once by the run sequence before any other thread starts.
extern bool LoggingEnabled;  // a log file is configured
extern bool Interactive;     // not silent: windows and message boxes allowed

// Writes one time-stamped line. Callers test LoggingEnabled before composing.
void LogLine(const WString& text);

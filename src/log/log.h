// The one entry point for log lines (with the process-wide flags). Portable: the
// Windows build writes through the Logger; native test builds capture lines.
#pragma once

#include "base/process_flags.h"
#include "base/wstr.h"

// Writes one time-stamped line. Callers test LoggingEnabled before composing.
void LogLine(const WString& text);

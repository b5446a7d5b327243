// Process-wide flags, set once by the run sequence before any other thread
// starts and only read afterwards.
#pragma once

extern bool LoggingEnabled;  // a log file is configured
extern bool Interactive;     // not silent: windows and message boxes allowed

// Process-wide flags, set once by the run sequence before any other thread
// starts and only read afterwards.
#pragma once

#include "base/wstr.h"

extern bool LoggingEnabled;  // a log file is configured
extern bool Interactive;     // not silent: windows and message boxes allowed
// The run's title, the package's name as every window and box of an
// interactive run shows it (the Title option, else "<product> Setup");
// empty in a silent run.
extern WString RunTitle;

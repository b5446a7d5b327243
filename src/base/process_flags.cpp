#include "base/process_flags.h"

bool LoggingEnabled = false;
bool Interactive = false;
WString RunTitle;

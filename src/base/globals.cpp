#include "log/log.h"

bool LoggingEnabled = false;
bool Interactive = false;

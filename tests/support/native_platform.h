// Native test support: the log lines written through LogLine.
#pragma once

#include "base/array.h"
#include "base/wstr.h"

Array<WString>& CapturedLogLines();

// Native test support: the log lines written through LogLine.
#pragma once

#include "core/array.h"
#include "core/wstr.h"

Array<WString>& CapturedLogLines();

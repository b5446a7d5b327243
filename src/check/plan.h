// What a run of the chainer would do on this machine: the filters and
// searches of every prerequisite with their results, its action and the
// selection, without downloading, installing, logging or any window.
#pragma once

#include <string>

#include "base/wstr.h"

// Builds the table for the configuration file at iniPath; false when the
// file cannot be read.
bool PlanRun(const WString& iniPath, std::string* table);

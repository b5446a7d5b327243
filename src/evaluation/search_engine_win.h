// The search engine: whether an acceptable version of a prerequisite is on
// this machine, from its searches in the registry, files and versions, the
// Windows Installer database and program exit codes.
#pragma once

#include <stdint.h>

#include "config/ini_schema.h"
#include "config/prerequisite.h"

class PackageLocator;

// The locator through which program searches find their program among the
// package's files; set by the chainer before the evaluation starts. Without
// one, programs are looked for beside the running executable.
void SetSearchPackageLocator(const PackageLocator* locator);

// Runs the searches in order under the operator (0 all, 1 any, other values
// never found), stopping as soon as the answer is decided; outcomes is
// emptied and receives one outcome per search that ran.
bool EvaluateSearches(const Array<SearchEntry>& searches, int32_t op, bool use64BitView,
                      Array<SearchOutcome>* outcomes);

// One search with its own version or content test.
SearchOutcome RunSearch(const SearchEntry& search, bool use64BitView);

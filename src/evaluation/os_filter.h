// The OS and language filters of a prerequisite. The decisions over given
// names and languages are portable; the Windows side asks the running system.
#pragma once

#include <stdint.h>

#include "base/wstr.h"
#include "platform/os_info.h"

// The OS filter over given names (portable core of OsFilterPasses).
bool OsFilterPassesFor(const OsInfo& info, const WString& detailedName, const WString& genericName,
                       const WString& winNTVersions, const WString& winNT64Versions);
// The language filter over a given system language (portable core).
bool LanguageListAccepts(const WString& languageList, uint16_t systemLanguage);

// Windows side (os_filter_win.cpp).
bool OsFilterPasses(const WString& winNTVersions, const WString& winNT64Versions);
// Logs "SystemDefault LangID=" when logging is on.
bool LanguageFilterPasses(const WString& languageList);

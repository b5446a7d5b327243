#include <windows.h>

#include "evaluation/os_filter.h"
#include "log/log.h"

bool OsFilterPasses(const WString& winNTVersions, const WString& winNT64Versions) {
    return OsFilterPassesFor(GetOsInfo(), OsDetailedName(), OsGenericName(), winNTVersions, winNT64Versions);
}

bool LanguageFilterPasses(const WString& languageList) {
    if (languageList.IsEmpty()) return true;
    const LANGID language = GetSystemDefaultLangID();
    if (LoggingEnabled) {
        WString name;
        int n = GetLocaleInfoW(MAKELCID(language, SORT_DEFAULT), LOCALE_SLANGUAGE, name.GetWBuffer(256), 256);
        name.ReleaseBuffer(n > 0 ? -1 : 0);
        LogLine(u"SystemDefault LangID=" + Format(u"%d-%s", static_cast<int>(language), name));
    }
    return LanguageListAccepts(languageList, language);
}

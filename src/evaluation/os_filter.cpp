#include "evaluation/os_filter.h"

bool OsFilterPassesFor(const OsInfo& info, const WString& detailedName, const WString& genericName,
                       const WString& winNTVersions, const WString& winNT64Versions) {
    const WString& list = info.Is64BitOs ? winNT64Versions : winNTVersions;
    // The two lists that name every system of their kind exclude the
    // prerequisite everywhere.
    if (info.Is64BitOs) {
        if (list == u"Windows XP/Vista/Windows 7/Windows 8 x64/Windows 8.1 x64/Windows 10 x64/Windows 11 x64") return false;
    } else {
        if (list == u"Windows 9x/ME/NT/2000/XP/Vista/Windows 7/Windows 8 x86/Windows 8.1 x86/Windows 10 x86") return false;
    }
    int start = 0;
    while (start < list.Length()) {
        int end = list.Find(u", ", start);
        if (end < 0) end = list.Length();
        WString entry = list.Substr(start, end - start);
        if (entry == detailedName || entry == genericName) return false;
        start = end + 2;
    }
    return true;
}

bool LanguageListAccepts(const WString& languageList, uint16_t systemLanguage) {
    if (languageList.IsEmpty()) return true;
    int start = 0;
    for (;;) {
        int end = languageList.FindChar(u';', start);
        if (end < 0) return false;  // text after the last ";" is not an entry
        int32_t id = ParseLenientInt(languageList.Substr(start, end - start));
        if ((static_cast<uint32_t>(id) & 0xFFFFu) == systemLanguage) return true;
        start = end + 1;
    }
}

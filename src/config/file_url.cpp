#include "config/file_url.h"

static int FileUrlPrefixLength(const WString& location) {
    if (location.StartsWithNoCase(u"file:///")) return 8;
    if (location.StartsWithNoCase(u"file://")) return 7;
    return 0;
}

bool IsLocalFileUrl(const WString& location) { return FileUrlPrefixLength(location) > 0; }

WString LocalPathOfFileUrl(const WString& location) {
    int skip = FileUrlPrefixLength(location);
    if (!skip) return WString();
    WString path = location.Mid(skip);
    char16_t* units = path.GetBuffer(path.Length());
    for (int i = 0; i < path.Length(); ++i)
        if (units[i] == u'/') units[i] = u'\\';
    path.ReleaseBuffer(path.Length());
    return path;
}

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
    if (skip == 8) {
        // file:///C:/x; file:////host/share/x is the share written with the
        // host inside the path.
        return path.StartsWith(u"\\") ? u"\\" + path : path;
    }
    // file://host/share/x names a share of that host; "localhost" and a drive
    // written where the host stands ("file://C:/x") name this machine.
    if (path.StartsWithNoCase(u"localhost\\")) return path.Mid(10);
    if (path.Length() >= 2 && path[1] == u':') return path;
    if (path.IsEmpty()) return path;
    return u"\\\\" + path;
}

#include "config/file_url.h"

static int FileUrlPrefixLength(const WString& location) {
    if (location.StartsWithNoCase(u"file:///")) return 8;
    if (location.StartsWithNoCase(u"file://")) return 7;
    return 0;
}

bool IsLocalFileUrl(const WString& location) { return FileUrlPrefixLength(location) > 0; }

// "X:\..." names a path from the root of a drive; "X:..." without the
// backslash would be relative to that drive's current folder.
static bool IsDriveRootedPath(const WString& path) {
    return path.Length() >= 3 && path[1] == u':' && path[2] == u'\\';
}

WString LocalPathOfFileUrl(const WString& location) {
    int skip = FileUrlPrefixLength(location);
    if (!skip) return WString();
    WString path = location.Mid(skip);
    char16_t* units = path.GetBuffer(path.Length());
    for (int i = 0; i < path.Length(); ++i)
        if (units[i] == u'/') units[i] = u'\\';
    path.ReleaseBuffer(path.Length());
    // Whatever the form, the result is a drive path from its root or a share:
    // a relative path would be resolved against the chainer's own folder.
    if (skip == 8) {
        // file:///C:/x; file:////host/share/x is the share written with the
        // host inside the path.
        if (path.StartsWith(u"\\")) return u"\\" + path;
        return IsDriveRootedPath(path) ? path : WString();
    }
    // file://host/share/x names a share of that host; "localhost" before a
    // drive path and a drive written where the host stands ("file://C:/x")
    // name this machine.
    if (path.StartsWithNoCase(u"localhost\\") && IsDriveRootedPath(path.Mid(10))) return path.Mid(10);
    if (path.Length() >= 2 && path[1] == u':') return IsDriveRootedPath(path) ? path : WString();
    if (path.IsEmpty()) return path;
    return u"\\\\" + path;
}

#include "download/url_for_log.h"

WString UrlForLog(const WString& url) {
    const int scheme = url.Find(u"://");
    if (scheme < 0) return url;
    const int authorityStart = scheme + 3;
    // The authority ends at the first "/", "?" or "#" after the scheme; its
    // user information ends at the last "@" within it.
    int authorityEnd = url.FindFirstOf(u"/?#", authorityStart);
    if (authorityEnd < 0) authorityEnd = url.Length();
    int at = -1;
    for (int i = authorityEnd - 1; i >= authorityStart; --i) {
        if (url[i] == u'@') {
            at = i;
            break;
        }
    }
    if (at < 0) return url;
    const int colon = url.FindChar(u':', authorityStart);
    if (colon < 0 || colon > at) return url;
    WString shown = url.Left(colon + 1);
    shown.Append(u"***");
    shown.Append(url.Mid(at));
    return shown;
}

WString UrlHostForDisplay(const WString& url) {
    const int scheme = url.Find(u"://");
    if (scheme < 0) return url;
    const int start = scheme + 3;
    int end = url.FindFirstOf(u"/?#", start);
    if (end < 0) end = url.Length();
    int from = start;
    for (int i = end - 1; i >= start; --i) {
        if (url[i] == u'@') {
            from = i + 1;
            break;
        }
    }
    return from < end ? url.Substr(from, end - from) : url;
}

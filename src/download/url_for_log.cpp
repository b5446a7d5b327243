#include "download/url_for_log.h"

namespace {

// Where a URL's authority begins and ends (at the first "/", "?" or "#"
// after the scheme) and where its user information ends (the last "@"
// within it, -1 without). False without a scheme.
bool FindAuthority(const WString& url, int* start, int* end, int* at) {
    const int scheme = url.Find(u"://");
    if (scheme < 0) return false;
    *start = scheme + 3;
    *end = url.FindFirstOf(u"/?#", *start);
    if (*end < 0) *end = url.Length();
    *at = -1;
    for (int i = *end - 1; i >= *start; --i) {
        if (url[i] == u'@') {
            *at = i;
            break;
        }
    }
    return true;
}

}  // namespace

WString UrlForLog(const WString& url) {
    int start = 0, end = 0, at = -1;
    if (!FindAuthority(url, &start, &end, &at) || at < 0) return url;
    const int colon = url.FindChar(u':', start);
    if (colon < 0 || colon > at) return url;
    WString shown = url.Left(colon + 1);
    shown.Append(u"***");
    shown.Append(url.Mid(at));
    return shown;
}

WString UrlHostForDisplay(const WString& url) {
    int start = 0, end = 0, at = -1;
    if (!FindAuthority(url, &start, &end, &at)) return url;
    const int from = at < 0 ? start : at + 1;
    return from < end ? url.Substr(from, end - from) : url;
}

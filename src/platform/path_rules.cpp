#include "platform/path_rules.h"

const char16_t kLongPrefix[] = u"\\\\?\\";
const char16_t kLongUncPrefix[] = u"\\\\?\\UNC\\";

namespace {

constexpr int kLongPrefixLength = 4;     // \\?\      .
constexpr int kLongUncPrefixLength = 8;  // \\?\UNC\  .

bool HasDriveColon(const WString& path) { return path.Length() >= 2 && path[1] == u':'; }

bool StartsWithTwoBackslashes(const WString& path) {
    return path.Length() >= 2 && path[0] == u'\\' && path[1] == u'\\';
}

// Only absolute paths take a prefix: in front of a relative one it would
// change the path's meaning ("UNC\x" would turn into the network path "\\x").
bool TakesLongPrefix(const WString& path) { return StartsWithTwoBackslashes(path) || HasDriveColon(path); }

// The long form of a path: network paths trade their two leading backslashes
// for "\\?\UNC\", everything else gets "\\?\"; a path that already carries a
// prefix is left alone.
WString LongForm(const WString& path) {
    if (IsNetworkPath(path)) {
        if (path.StartsWith(kLongUncPrefix)) return path;
        return WString(kLongUncPrefix) + path.Mid(2);
    }
    if (path.StartsWith(kLongPrefix)) return path;
    return WString(kLongPrefix) + path;
}

// Trailing spaces and dots are not part of a path component on Windows.
WString WithoutTrailingSpacesAndDots(const WString& element) {
    int end = element.Length();
    while (end > 0 && (element[end - 1] == u' ' || element[end - 1] == u'.')) --end;
    return end == element.Length() ? element : element.Left(end);
}

}  // namespace

bool IsNetworkPath(const WString& path) { return StartsWithTwoBackslashes(path) && !path.StartsWith(kLongPrefix); }

WString AddLongPrefixForFinder(const WString& path) {
    int length = path.Length();
    if (length < 260 || length > 32766 || !TakesLongPrefix(path)) return path;
    return LongForm(path);
}

WString AddLongPrefixForStorage(const WString& path) {
    if (path.Length() < 248) return path;
    if (!TakesLongPrefix(path)) return path;
    return LongForm(path);
}

// Long network paths take the "\\?\UNC\" form here as well: with a plain
// "\\?\" in front of "\\server\share\..." the system cannot find the file,
// so a long file left on a share could never be removed.
WString AddLongPrefixForDelete(const WString& path) {
    if (path.Length() < 260 || !TakesLongPrefix(path)) return path;
    return LongForm(path);
}

WString RemoveLongPrefix(const WString& path) {
    if (path.StartsWithNoCase(kLongUncPrefix)) return WString(u"\\\\") + path.Mid(kLongUncPrefixLength);
    if (path.StartsWith(kLongPrefix)) return path.Mid(kLongPrefixLength);
    return path;
}

WString ParentFolder(const WString& path) {
    int slash = path.FindLastChar(u'\\');
    return slash < 0 ? WString() : path.Left(slash);
}

WString FileNameOfPath(const WString& path) {
    int slash = path.FindLastChar(u'\\');
    return slash < 0 ? path : path.Mid(slash + 1);
}

Array<WString> SplitPath(const WString& path) {
    Array<WString> elements;
    WString prefix;
    WString rest = path;
    if (rest.StartsWith(kLongUncPrefix)) {
        prefix = WString(kLongUncPrefix);
        rest = rest.Mid(kLongUncPrefixLength);
    } else if (rest.StartsWith(kLongPrefix)) {
        prefix = WString(kLongPrefix);
        rest = rest.Mid(kLongPrefixLength);
    }
    int rootEnd = rest.FindChar(u'\\', StartsWithTwoBackslashes(rest) ? 2 : 0);
    if (rootEnd < 0) {
        elements.Add(prefix + rest);
        return elements;
    }
    elements.Add(prefix + rest.Left(rootEnd));
    int start = rootEnd + 1;
    for (;;) {
        int slash = rest.FindChar(u'\\', start);
        if (slash < 0) {
            elements.Add(rest.Mid(start));
            break;
        }
        elements.Add(rest.Substr(start, slash - start));
        start = slash + 1;
    }
    return elements;
}

// Components are rejoined with single backslashes; a component that ends in
// "]" is a folder property that expands with its own trailing backslash, so
// the next component follows it directly.
WString NormalisePath(const WString& path) {
    Array<WString> elements = SplitPath(path);
    WString result;
    for (const WString& element : elements) {
        if (!result.IsEmpty() && result.Last() != u']' && result.Last() != u'\\') result.Append(u'\\');
        result.Append(WithoutTrailingSpacesAndDots(element));
    }
    return result;
}

WString RootOfPath(const WString& path) {
    WString plain = RemoveLongPrefix(path);
    if (HasDriveColon(plain)) return plain.Left(3);
    if (StartsWithTwoBackslashes(plain)) {
        int serverEnd = plain.FindChar(u'\\', 2);
        if (serverEnd < 0) return plain;
        int shareEnd = plain.FindChar(u'\\', serverEnd + 1);
        return shareEnd < 0 ? plain : plain.Left(shareEnd);
    }
    return WString();
}

bool IsAbsolutePath(const WString& path) {
    if (path.Length() < 2) return false;
    return path[1] == u':' || (path[0] == u'\\' && path[1] == u'\\');
}

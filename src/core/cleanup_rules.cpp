#include "core/cleanup_rules.h"

#include "platform/path_rules.h"

namespace {

WString ParentOf(const WString& path) {
    int slash = path.FindLastChar(u'\\');
    return slash < 0 ? WString() : path.Left(slash);
}

}  // namespace

WString CleanupRoot(const WString& cleanupFolders) {
    if (cleanupFolders.Last() == u'\\') return cleanupFolders.Left(cleanupFolders.Length() - 1);
    return cleanupFolders;
}

WString CanonicalCleanupPath(const WString& path) {
    WString plain = RemoveLongPrefix(path);
    char16_t* units = plain.GetBuffer(plain.Length());
    for (int i = 0; i < plain.Length(); ++i)
        if (units[i] == u'/') units[i] = u'\\';
    plain.ReleaseBuffer(plain.Length());

    // The root: "X:" or "\\server\share"; anything else is refused.
    WString result;
    int start;
    if (plain.Length() >= 2 && plain[1] == u':' && ((plain[0] | 0x20) >= u'a' && (plain[0] | 0x20) <= u'z')) {
        if (plain.Length() > 2 && plain[2] != u'\\') return WString();  // "C:x" is relative to a drive's folder
        result = plain.Left(2);
        start = 2;
    } else if (plain.StartsWith(u"\\\\")) {
        int serverEnd = plain.FindChar(u'\\', 2);
        if (serverEnd < 0) return WString();
        int shareEnd = plain.FindChar(u'\\', serverEnd + 1);
        if (shareEnd < 0) shareEnd = plain.Length();
        WString server = plain.Substr(2, serverEnd - 2), share = plain.Substr(serverEnd + 1, shareEnd - serverEnd - 1);
        // "\\.\" and "\\?\" name devices, not shares.
        if (server.IsEmpty() || share.IsEmpty() || server == u"." || server == u"?" || share == u"." || share == u"..")
            return WString();
        result = plain.Left(shareEnd);
        start = shareEnd;
    } else {
        return WString();
    }

    // The elements: "." stays, ".." goes up (never above the root); an element
    // the system would shorten (trailing dots or blanks) or that names a
    // stream is refused rather than guessed.
    Array<int> ends;  // length of result before each element
    int i = start;
    while (i < plain.Length()) {
        while (i < plain.Length() && plain[i] == u'\\') ++i;
        if (i >= plain.Length()) break;
        int end = plain.FindChar(u'\\', i);
        if (end < 0) end = plain.Length();
        WString element = plain.Substr(i, end - i);
        i = end;
        if (element == u".") continue;
        if (element == u"..") {
            if (ends.IsEmpty()) return WString();
            result = result.Left(ends[ends.Size() - 1]);
            ends.RemoveAt(ends.Size() - 1);
            continue;
        }
        if (element.Last() == u'.' || element.Last() == u' ' || element.FindChar(u':', 0) >= 0) return WString();
        ends.Add(result.Length());
        result.Append(u'\\');
        result.Append(element);
    }
    return result;
}

bool IsBelowCleanupRoot(const WString& path, const WString& root) {
    if (root.IsEmpty()) return false;
    WString canonicalPath = CanonicalCleanupPath(path), canonicalRoot = CanonicalCleanupPath(root);
    if (canonicalPath.IsEmpty() || canonicalRoot.IsEmpty()) return false;
    // "C:\Pkg" must not take in "C:\PkgOther": the root ends at a backslash.
    return canonicalPath.Length() > canonicalRoot.Length() + 1 && canonicalPath.StartsWithNoCase(canonicalRoot.c_str()) &&
           canonicalPath[canonicalRoot.Length()] == u'\\';
}

void AddUniqueIgnoringCase(Array<WString>* list, const WString& path) {
    for (const WString& entry : *list)
        if (entry.EqualsNoCase(path)) return;
    list->Add(path);
}

Array<WString> SplitCleanupFiles(const WString& text) {
    Array<WString> tokens;
    int start = 0;
    for (int i = 0; i <= text.Length(); ++i) {
        if (i == text.Length() || text[i] == 0x0001) {
            if (i > start) tokens.Add(text.Substr(start, i - start));
            start = i + 1;
        }
    }
    return tokens;
}

void BuildCleanupLists(const CleanupInputs& inputs, bool (*fileExists)(const WString&), Array<WString>* fileList,
                       Array<WString>* scriptPaths) {
    if (!inputs.cleanupScript.IsEmpty()) AddUniqueIgnoringCase(scriptPaths, inputs.cleanupScript);

    // Without a root every listed file that exists goes; with one, only files
    // below it. The list keeps the canonical form, so that what is deleted is
    // what was tested.
    WString root = CleanupRoot(inputs.cleanupFolders);
    Array<WString> tokens = SplitCleanupFiles(inputs.cleanupFiles);
    for (const WString& token : tokens) {
        WString file = CanonicalCleanupPath(token);
        if (file.IsEmpty() || !fileExists(file)) continue;
        if (!root.IsEmpty() && !IsBelowCleanupRoot(file, root)) continue;
        fileList->Add(file);
    }
    fileList->Add(inputs.iniPath);

    AddUniqueIgnoringCase(scriptPaths, inputs.executablePath);
    // The executable's folders below the root; the root itself stays, and the
    // walk ends at the top of the path at the latest.
    WString folder = ParentOf(CanonicalCleanupPath(inputs.executablePath));
    while (IsBelowCleanupRoot(folder, root)) {
        AddUniqueIgnoringCase(scriptPaths, folder);
        folder = ParentOf(folder);
    }
}

Array<WString> FoldersToPrune(const WString& filePath, const WString& root) {
    Array<WString> folders;
    WString folder = ParentOf(CanonicalCleanupPath(filePath));
    while (IsBelowCleanupRoot(folder, root)) {
        folders.Add(folder);
        folder = ParentOf(folder);
    }
    return folders;
}

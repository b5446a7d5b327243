#include "core/cleanup_rules.h"

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

bool IsBelowCleanupRoot(const WString& path, const WString& root) {
    if (root.IsEmpty()) return false;
    // "C:\Pkg" must not take in "C:\PkgOther": the root ends at a backslash.
    return path.Length() > root.Length() + 1 && path.StartsWith(root) && path[root.Length()] == u'\\';
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
    // below it.
    WString root = CleanupRoot(inputs.cleanupFolders);
    Array<WString> tokens = SplitCleanupFiles(inputs.cleanupFiles);
    for (const WString& token : tokens) {
        if (!fileExists(token)) continue;
        if (!root.IsEmpty() && !IsBelowCleanupRoot(token, root)) continue;
        fileList->Add(token);
    }
    fileList->Add(inputs.iniPath);

    AddUniqueIgnoringCase(scriptPaths, inputs.executablePath);
    // The executable's folders below the root; the root itself stays, and the
    // walk ends at the top of the path at the latest.
    WString folder = ParentOf(inputs.executablePath);
    while (IsBelowCleanupRoot(folder, root)) {
        AddUniqueIgnoringCase(scriptPaths, folder);
        folder = ParentOf(folder);
    }
}

Array<WString> FoldersToPrune(const WString& filePath, const WString& root) {
    Array<WString> folders;
    WString folder = ParentOf(filePath);
    while (IsBelowCleanupRoot(folder, root)) {
        folders.Add(folder);
        folder = ParentOf(folder);
    }
    return folders;
}

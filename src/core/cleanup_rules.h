// The pure rules of the end-of-run cleanup: which files go, which paths the
// cleanup script gets, which folders are pruned. Portable.
#pragma once

#include "base/array.h"
#include "base/wstr.h"

// The cleanup root: the CleanupFolders text without one trailing backslash.
WString CleanupRoot(const WString& cleanupFolders);

// The path as the file system resolves it, for comparing: the long-path
// prefix removed ("\\?\UNC\" becomes "\\"), "/" read as "\", repeated
// backslashes and "." dropped, ".." taking away the element before it. Empty
// for a path that is not absolute (drive or share), climbs above its root, or
// has an element the system would shorten (trailing dot or blank) or a stream.
WString CanonicalCleanupPath(const WString& path);

// True when path lies strictly below the root (the root, a backslash, more),
// both compared in canonical form, letter case aside. An empty root has
// nothing below it.
bool IsBelowCleanupRoot(const WString& path, const WString& root);

// Appends path unless an equal one (ignoring case) is already there.
void AddUniqueIgnoringCase(Array<WString>* list, const WString& path);

// The tokens of a CleanupFiles text split at U+0001; empty tokens are skipped.
Array<WString> SplitCleanupFiles(const WString& text);

// Fills the file list and the script paths. fileExists answers whether a
// listed file exists (absolute paths only).
struct CleanupInputs {
    WString cleanupFiles;
    WString cleanupFolders;
    WString cleanupScript;
    WString iniPath;
    WString executablePath;
};
void BuildCleanupLists(const CleanupInputs& inputs, bool (*fileExists)(const WString&), Array<WString>* fileList,
                       Array<WString>* scriptPaths);

// The folders to try removing after a file was deleted: its folder and its
// parents while they lie below the root, nearest first. None without a root.
Array<WString> FoldersToPrune(const WString& filePath, const WString& root);

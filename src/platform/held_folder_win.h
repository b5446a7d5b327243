// A folder reached from a root without crossing a link. The root and every
// folder below it down to this one are opened without following reparse
// points, refused when they are one, and held open without delete sharing,
// so that none of them can be renamed, replaced or turned into a link while
// the folder is held; each one must resolve to its parent's resolved path
// plus its own name. Files are opened, created and deleted in it only with
// the same checks on the entry itself, so an elevated run that works in a
// folder the user can write never writes, moves or deletes anything outside
// it.
#pragma once

#include <windows.h>

#include "base/array.h"
#include "base/result.h"
#include "base/wstr.h"
#include "platform/unique_handle_win.h"

// What a refused link answers: a folder or file on the way is a reparse
// point (junction, symbolic link, mount point), resolves elsewhere, or (for
// a file to write) has a second hard link.
constexpr ResultCode kLinkRefused = 681;  // ERROR_STOPPED_ON_SYMLINK

class HeldFolder {
public:
    HeldFolder() = default;
    HeldFolder(HeldFolder&&) noexcept = default;
    HeldFolder& operator=(HeldFolder&&) noexcept = default;

    // Opens root, then each folder of relative (backslash-separated; empty
    // for the root itself), creating the missing ones when create is set
    // (the root's own missing folders by name; each folder created is
    // appended to created, outermost first). 0, kLinkRefused, or the
    // system's error; nothing stays held on failure.
    [[nodiscard]] ResultCode Open(const WString& root, const WString& relative, bool create = false,
                                  Array<WString>* created = nullptr);
    void Close();
    bool IsOpen() const { return !folders_.IsEmpty(); }
    // The folder's path as given, ending with a backslash.
    const WString& Path() const { return path_; }

    // Opens name in the folder (a plain name, no backslash) with
    // CreateFileW's access, sharing, disposition and attributes: never
    // through a link (a reparse point is refused, and so is a file with a
    // second hard link when access writes), and only when the handle
    // resolves into this folder. 0, kLinkRefused, or the system's error.
    [[nodiscard]] ResultCode OpenFile(const WString& name, DWORD access, DWORD share, DWORD disposition,
                                      LPSECURITY_ATTRIBUTES attributes, UniqueFile* file) const;
    // Deletes the entry name by a handle on the entry itself (a link goes,
    // never what it points at; a read-only entry only when evenReadOnly).
    // 0 also when there is no such entry.
    [[nodiscard]] ResultCode DeleteEntry(const WString& name, bool evenReadOnly = false) const;
    // Deletes everything below the folder, read-only entries included: files
    // and links by handles on themselves, folders after their own contents
    // (a link to a folder goes as a link; the walk never follows one).
    void DeleteContents() const;
    // Removes the innermost folder, by a handle on it, when it is empty and
    // is not the root; the held folder is then its parent. False otherwise.
    bool RemoveInnermostIfEmpty();
    // Folders held below the root (0: the root itself).
    int Depth() const { return folders_.Size() - 1; }

private:
    Array<UniqueFile> folders_;  // root first
    Array<WString> resolvedPaths_;  // what each held folder resolves to, root first
    WString path_;
    WString resolved_;  // the path the system resolves the folder's handle to
};

// Holds the folder of path from root down (path lies below root; an empty
// root, or one path does not lie below, holds only the path's own folder);
// name receives the entry's own name. 0, kLinkRefused or the system's error.
[[nodiscard]] ResultCode HoldParentBelow(const WString& root, const WString& path, HeldFolder* folder, WString* name);
// Deletes the entry at path by a handle on it, its folder held from root
// down (path lies below root; an empty root, or one path does not lie below,
// holds only the entry's own folder): a link on the way refuses, a link as
// the entry goes itself, never what it points at. 0 also when it is absent;
// kLinkRefused or the system's error.
[[nodiscard]] ResultCode DeleteBelow(const WString& root, const WString& path);
// Moves the entry name of a held folder to target (a new name: nothing there
// is replaced) by a rename through a handle on it, target's folder held as
// DeleteBelow holds it. 0, kLinkRefused or the system's error.
[[nodiscard]] ResultCode MoveEntryBelow(const HeldFolder& source, const WString& name, const WString& root,
                                        const WString& target);
// Removes the folder at path, checked the same way, when it is empty.
bool RemoveFolderBelow(const WString& root, const WString& path);

// The path the system resolves an open handle to (links followed), without
// the "\\?\" prefix. False only when the system has the query and it fails;
// without it (Windows XP) path stays empty and true is answered.
bool FinalPathOf(HANDLE handle, WString* path);
// True when the open handle and its name show an entry of the expected kind
// that is no reparse point and, for a file when requireSingleLink, no second
// hard link. The name is asked too because some file systems mark a link
// only there.
bool IsPlainEntry(HANDLE handle, const WString& path, bool folder, bool requireSingleLink = true);
// True when the open entry resolves directly into the folder whose resolved
// path is folderResolved (empty: the system cannot tell, and true is
// answered when the entry's path cannot be told either).
bool ResolvesInto(HANDLE entry, const WString& folderResolved, const WString& name);
// Opens a folder to hold it: no reparse point followed, every sharing but
// delete, no right that conflicts with another process's open of it.
UniqueFile OpenFolderToHold(const WString& path);
// Deletes the entry open on handle (opened with DELETE access, and
// FILE_WRITE_ATTRIBUTES for evenReadOnly) by the handle; where the system
// cannot (Windows XP) by path. True when it went.
bool DeleteByHandle(HANDLE handle, const WString& path, bool folder, bool evenReadOnly = false);

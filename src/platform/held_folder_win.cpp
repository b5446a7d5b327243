#include "platform/held_folder_win.h"

#include "base/grow_retry.h"
#include "platform/fileops_win.h"
#include "platform/path_rules.h"
#include "platform/system_library_win.h"

namespace {

typedef BOOL(WINAPI* SetInformationFn)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);

SetInformationFn SetInformation() {
    static const SetInformationFn set = KernelFunction<SetInformationFn>("SetFileInformationByHandle");
    return set;
}

WString WithoutTrailingBackslashes(WString path) {
    while (path.Length() > 3 && path.Last() == u'\\') path = path.Left(path.Length() - 1);
    return path;
}

}  // namespace

bool FinalPathOf(HANDLE handle, WString* path) {
    typedef DWORD(WINAPI * FinalPathFn)(HANDLE, LPWSTR, DWORD, DWORD);
    static const FinalPathFn finalPath = KernelFunction<FinalPathFn>("GetFinalPathNameByHandleW");
    path->Clear();
    if (!finalPath) return true;
    // The answer counts its terminating null only when it does not fit.
    const bool read = GrowAndRetry(MAX_PATH + 1, 3, [&](uint32_t capacity, uint32_t* needed) {
        WString text;
        const DWORD n = finalPath(handle, text.GetWBuffer(static_cast<int>(capacity)), capacity, 0);
        text.ReleaseBuffer(n != 0 && n < capacity ? static_cast<int>(n) : 0);
        if (n == 0) return QueryStep::kFailed;
        if (n >= capacity) {
            *needed = n + 1;
            return QueryStep::kGrow;
        }
        *path = RemoveLongPrefix(text);
        return QueryStep::kDone;
    });
    return read && !path->IsEmpty();
}

bool IsPlainEntry(HANDLE handle, const WString& path, bool folder, bool requireSingleLink) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return false;
    const DWORD byName = GetFileAttributesW(AddLongPrefixForStorage(path).wc());
    if (byName == INVALID_FILE_ATTRIBUTES) return false;
    const DWORD attributes = info.dwFileAttributes | byName;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
    if (((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder) return false;
    return folder || !requireSingleLink || info.nNumberOfLinks == 1;
}

bool ResolvesInto(HANDLE entry, const WString& folderResolved, const WString& name) {
    WString resolved;
    if (!FinalPathOf(entry, &resolved)) return false;
    if (resolved.IsEmpty()) return folderResolved.IsEmpty();
    const int slash = resolved.FindLastChar(u'\\');
    if (slash <= 0) return false;
    return resolved.Left(slash).EqualsNoCase(WithoutTrailingBackslashes(folderResolved)) &&
           resolved.Mid(slash + 1).EqualsNoCase(name);
}

UniqueFile OpenFolderToHold(const WString& path) {
    // A handle with no right of the sharing classes takes no part in sharing
    // and would hold nothing: traversal is one (of the read class, which
    // every other open shares), and without delete sharing no process can
    // open the folder to rename or remove it while it is held.
    return UniqueFile(CreateFileW(AddLongPrefixForStorage(WithoutTrailingBackslashes(path)).wc(),
                                  FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool DeleteByHandle(HANDLE handle, const WString& path, bool folder, bool evenReadOnly) {
    if (SetInformationFn set = SetInformation()) {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        if (set(handle, FileDispositionInfo, &disposition, sizeof disposition)) return true;
        BY_HANDLE_FILE_INFORMATION info;
        if (!evenReadOnly || GetLastError() != ERROR_ACCESS_DENIED || !GetFileInformationByHandle(handle, &info) ||
            !(info.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
            return false;
        // A read-only entry loses the attribute first (times of 0 stay as
        // they are).
        FILE_BASIC_INFO basic;
        ZeroMemory(&basic, sizeof basic);
        basic.FileAttributes = info.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        if (!basic.FileAttributes) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        return set(handle, FileBasicInfo, &basic, sizeof basic) &&
               set(handle, FileDispositionInfo, &disposition, sizeof disposition);
    }
    const WString longPath = AddLongPrefixForDelete(path);
    const DWORD attributes = GetFileAttributesW(longPath.wc());
    if (evenReadOnly && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(longPath.wc(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    return folder ? RemoveDirectoryW(longPath.wc()) != FALSE : DeleteFileW(longPath.wc()) != FALSE;
}

// ---------------------------------------------------------------------------
// HeldFolder

void HeldFolder::Close() {
    while (!folders_.IsEmpty()) folders_.RemoveAt(folders_.Size() - 1);  // innermost first
    resolvedPaths_.Clear();
    path_.Clear();
    resolved_.Clear();
}

ResultCode HeldFolder::Open(const WString& root, const WString& relative, bool create, Array<WString>* created) {
    Close();
    WString path = WithoutTrailingBackslashes(root);
    if (path.IsEmpty() || !IsAbsolutePath(path)) return ERROR_PATH_NOT_FOUND;
    if (create) {
        const ResultCode made = CreateDirectoryTree(path, true, created);
        if (made != kResultOk) return made;
    }
    UniqueFile folder = OpenFolderToHold(path);
    if (!folder) return GetLastError();
    if (!IsPlainEntry(folder.Get(), path, true) || !FinalPathOf(folder.Get(), &resolved_)) {
        Close();
        return kLinkRefused;
    }
    folders_.Add(static_cast<UniqueFile&&>(folder));
    resolvedPaths_.Add(resolved_);
    const Array<WString> parts = SplitPath(relative);
    for (const WString& part : parts) {
        if (part.IsEmpty() || part == u".") continue;
        if (part == u".." || part.FindFirstOf(u"/:") >= 0) {
            Close();
            return ERROR_BAD_PATHNAME;
        }
        const WString next = path + u"\\" + part;
        if (create && CreateDirectoryW(AddLongPrefixForStorage(next).wc(), nullptr) && created) created->Add(next);
        UniqueFile child = OpenFolderToHold(next);
        if (!child) {
            const ResultCode error = GetLastError();
            Close();
            return error;
        }
        WString childResolved;
        if (!IsPlainEntry(child.Get(), next, true) || !ResolvesInto(child.Get(), resolved_, part) ||
            !FinalPathOf(child.Get(), &childResolved)) {
            Close();
            return kLinkRefused;
        }
        resolved_ = childResolved;
        folders_.Add(static_cast<UniqueFile&&>(child));
        resolvedPaths_.Add(resolved_);
        path = next;
    }
    path_ = path + u"\\";
    return kResultOk;
}

ResultCode HeldFolder::OpenFile(const WString& name, DWORD access, DWORD share, DWORD disposition,
                                LPSECURITY_ATTRIBUTES attributes, UniqueFile* file) const {
    file->Reset();
    if (!IsOpen() || name.IsEmpty() || name.FindFirstOf(u"\\/") >= 0) return ERROR_INVALID_NAME;
    const WString path = path_ + name;
    UniqueFile opened(CreateFileW(AddLongPrefixForStorage(path).wc(), access | FILE_READ_ATTRIBUTES, share,
                                  attributes, disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
    if (!opened) return GetLastError();
    const bool writes = (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
    if (!IsPlainEntry(opened.Get(), path, false, writes) || !ResolvesInto(opened.Get(), resolved_, name))
        return kLinkRefused;
    *file = static_cast<UniqueFile&&>(opened);
    return kResultOk;
}

ResultCode HeldFolder::DeleteEntry(const WString& name, bool evenReadOnly) const {
    if (!IsOpen() || name.IsEmpty() || name.FindFirstOf(u"\\/") >= 0) return ERROR_INVALID_NAME;
    const WString path = path_ + name;
    UniqueFile entry(CreateFileW(AddLongPrefixForStorage(path).wc(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!entry) {
        const ResultCode error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kResultOk : error;
    }
    if (!ResolvesInto(entry.Get(), resolved_, name)) return kLinkRefused;
    BY_HANDLE_FILE_INFORMATION info;
    const bool folder = GetFileInformationByHandle(entry.Get(), &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    return DeleteByHandle(entry.Get(), path, folder, evenReadOnly) ? kResultOk : GetLastError();
}

void HeldFolder::DeleteContents() const {
    if (!IsOpen()) return;
    for (FileFinder finder(path_ + u"*"); finder.Found(); finder.Next()) {
        if (finder.IsDots()) continue;
        const WString name = finder.Name();
        if (finder.IsDirectory() && !(finder.Data().dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            HeldFolder child;
            if (child.Open(path_, name) == kResultOk) {
                child.DeleteContents();
                child.RemoveInnermostIfEmpty();
                continue;
            }
        }
        (void)DeleteEntry(name, true);
    }
}

bool HeldFolder::RemoveInnermostIfEmpty() {
    if (folders_.Size() < 2) return false;
    const WString path = WithoutTrailingBackslashes(path_);
    // The hold goes first: it shares no delete, not even with this process.
    folders_.RemoveAt(folders_.Size() - 1);
    resolvedPaths_.RemoveAt(resolvedPaths_.Size() - 1);
    const WString parentResolved = resolvedPaths_[resolvedPaths_.Size() - 1];
    const int slash = path.FindLastChar(u'\\');
    const WString name = path.Mid(slash + 1);
    UniqueFile folder(CreateFileW(AddLongPrefixForStorage(path).wc(), DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    bool removed = folder && IsPlainEntry(folder.Get(), path, true) && ResolvesInto(folder.Get(), parentResolved, name) &&
                   DeleteByHandle(folder.Get(), path, true);
    folder.Reset();
    // The parent becomes the folder held; the removed folder's hold is gone
    // whether or not it could be removed.
    path_ = path.Left(slash + 1);
    resolved_ = parentResolved;
    return removed;
}

ResultCode HoldParentBelow(const WString& root, const WString& path, HeldFolder* folder, WString* name) {
    const WString plainPath = WithoutTrailingBackslashes(RemoveLongPrefix(path));
    const WString plainRoot = WithoutTrailingBackslashes(RemoveLongPrefix(root));
    const int slash = plainPath.FindLastChar(u'\\');
    if (slash <= 0) return ERROR_INVALID_NAME;
    *name = plainPath.Mid(slash + 1);
    const WString parent = plainPath.Left(slash);
    const bool below = !plainRoot.IsEmpty() && parent.Length() >= plainRoot.Length() &&
                       parent.Left(plainRoot.Length()).EqualsNoCase(plainRoot) &&
                       (parent.Length() == plainRoot.Length() || parent[plainRoot.Length()] == u'\\');
    if (!below) return folder->Open(parent, WString());
    const int start = plainRoot.Length() + 1;
    return folder->Open(plainRoot, start < parent.Length() ? parent.Mid(start) : WString());
}


ResultCode DeleteBelow(const WString& root, const WString& path) {
    HeldFolder folder;
    WString name;
    const ResultCode held = HoldParentBelow(root, path, &folder, &name);
    if (held == ERROR_FILE_NOT_FOUND || held == ERROR_PATH_NOT_FOUND) return kResultOk;
    return held != kResultOk ? held : folder.DeleteEntry(name);
}

ResultCode MoveEntryBelow(const HeldFolder& source, const WString& name, const WString& root, const WString& target) {
    UniqueFile entry;
    ResultCode result = source.OpenFile(name, DELETE, FILE_SHARE_READ, OPEN_EXISTING, nullptr, &entry);
    if (result != kResultOk) return result;
    HeldFolder folder;
    WString targetName;
    result = HoldParentBelow(root, target, &folder, &targetName);
    if (result != kResultOk) return result;
    return RenameOpenFile(entry.Get(), folder.Path() + targetName);
}

bool RemoveFolderBelow(const WString& root, const WString& path) {
    HeldFolder folder;
    WString name;
    if (HoldParentBelow(root, path, &folder, &name) != kResultOk) return false;
    const WString parent = folder.Path();
    HeldFolder inner;
    // Held from the parent down, the parent itself held above: the folder
    // goes only when it is one, plain and empty.
    return inner.Open(parent, name) == kResultOk && inner.RemoveInnermostIfEmpty();
}

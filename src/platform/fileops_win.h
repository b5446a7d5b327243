// File-system operations with long-path support.
#pragma once

#include <windows.h>
#include <aclapi.h>
// <aclapi.h> maps BuildSecurityDescriptor to the system's own function of
// that name; AccessListBuilder's operation keeps its plain name.
#undef BuildSecurityDescriptor

#include "base/array.h"
#include "base/owned.h"
#include "base/result.h"
#include "base/wstr.h"
#include "platform/unique_handle_win.h"

// 0, or a system error: 87 for an empty path, 3 for a path that is not
// absolute (or shorter than two characters), the find error otherwise.
[[nodiscard]] ResultCode GetFileInformation(const WString& path, FILETIME* lastWrite, DWORD* sizeLow);
bool FileExists(const WString& path);
// Creates the missing folders of a path (all elements when lastIsFolder,
// all but the last otherwise); each folder created is appended to created.
[[nodiscard]] ResultCode CreateDirectoryTree(const WString& path, bool lastIsFolder, Array<WString>* created = nullptr);
bool DeleteFileLong(const WString& path);
bool RemoveDirectoryLong(const WString& path);
// Deletes everything below the folder (read-only entries included); the
// folder itself stays.
void DeleteTreeContents(const WString& folder);
// The system temporary path with a trailing backslash; empty on failure.
WString TempFolder();
// A unique "CV_" name in the temporary folder with the extension ".ps1".
WString TempScriptName();

// Names base + 8 hexadecimal digits, another one at every call, for
// entries that must be made new (a name that exists is passed over).
class FreshNames {
public:
    FreshNames();
    WString Next(const WString& base);

private:
    DWORD seed_;
};
// Creates a file folder + prefix + 8 hexadecimal digits + extension that did
// not exist (CREATE_NEW, never an entry that was there), open for writing and
// shared with nobody; path receives its name. Invalid on failure (the last
// error says why).
UniqueFile CreateFreshFile(const WString& folder, const char16_t* prefix, const char16_t* extension, WString* path);
bool GetEnvVariable(const WString& name, WString* value);

// Which file a handle is open on: its volume's serial number and its index
// there. Two handles with the same identity are open on the same file,
// whatever names it had in between.
struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool known = false;
    bool SameFileAs(const FileIdentity& other) const {
        return known && other.known && volume == other.volume && indexHigh == other.indexHigh &&
               indexLow == other.indexLow;
    }
};
FileIdentity IdentityOfOpenFile(HANDLE file);
// The size of an open file; false when it cannot be read.
bool SizeOfOpenFile(HANDLE file, uint64_t* size);
// What the volume of a folder still takes: the bytes it gives the running
// user (quotas counted) and its file system's name ("NTFS", "FAT32", ...;
// empty when it tells none). False when the free space cannot be read.
bool VolumeSpaceOf(const WString& folder, uint64_t* freeBytes, WString* fileSystem);
// Gives the file open on the handle (opened with DELETE access) the new
// path on the same volume, replacing a file there only when replace is set.
// 0 or the system's error; ERROR_CALL_NOT_IMPLEMENTED before Windows Vista.
[[nodiscard]] ResultCode RenameOpenFile(HANDLE file, const WString& newPath, bool replace = false);

// A directory listing with long-path support.
class FileFinder {
public:
    explicit FileFinder(const WString& pattern);
    ~FileFinder();
    FileFinder(const FileFinder&) = delete;
    FileFinder& operator=(const FileFinder&) = delete;
    bool Found() const { return found_; }
    bool Next();
    const WIN32_FIND_DATAW& Data() const { return data_; }
    WString Name() const { return WString(data_.cFileName); }
    bool IsDirectory() const { return (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    bool IsDots() const;
    // Root folder of the listing + "\" + entry name.
    WString EntryPath() const;

private:
    UniqueFind handle_;
    WIN32_FIND_DATAW data_;
    bool found_ = false;
    WString root_;
};

// Builds an access list of explicit entries and a security descriptor.
class AccessListBuilder {
public:
    AccessListBuilder();
    ~AccessListBuilder();
    AccessListBuilder(const AccessListBuilder&) = delete;
    AccessListBuilder& operator=(const AccessListBuilder&) = delete;
    // Appends an entry granting GENERIC_ALL to the account (a name, or a SID
    // text when isSidText); false and LastError() when it cannot be resolved.
    bool GrantAccess(const WString& account, bool isSidText);
    // Appends an entry for a SID given as such (copied).
    bool GrantSid(PSID sid);
    // The rights the entries appended next grant (GENERIC_ALL unless set).
    void SetAccessMask(DWORD mask) { accessMask_ = mask; }
    void SetRevoke(bool revoke) { revoke_ = revoke; }
    void SetInheritance(DWORD flags) { inheritance_ = flags; }
    // The owner the descriptor names (a SID text); none unless set.
    bool SetOwner(const WString& sidText);
    // The descriptor with the entries (merged into existing's list when
    // given); null on failure. Owned by the builder.
    PSECURITY_DESCRIPTOR BuildSecurityDescriptor(PSECURITY_DESCRIPTOR existing = nullptr);
    ResultCode LastError() const { return lastError_; }

private:
    struct Entry;
    bool AddEntry(HeapBlock sid, SID_NAME_USE use);
    Array<Owned<Entry>> entries_;
    UniqueLocal<PACL> acl_;
    UniqueLocal<PSECURITY_DESCRIPTOR> descriptor_;
    HeapBlock owner_;
    bool revoke_ = false;
    DWORD inheritance_ = NO_INHERITANCE;
    DWORD accessMask_ = GENERIC_ALL;
    ResultCode lastError_ = kResultOk;
};

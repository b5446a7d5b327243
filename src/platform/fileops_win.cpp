#include "platform/fileops_win.h"

#include "base/fatal.h"
#include "base/grow_retry.h"
#include "platform/path_rules.h"
#include "platform/system_library_win.h"
#include "platform/win_util.h"

namespace {

// Clears the read-only attribute of an entry so that it can be removed.
void ClearReadOnly(const WString& longPath, DWORD attributes) {
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(longPath.wc(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

}  // namespace

// ---------------------------------------------------------------------------
// File information and existence

ResultCode GetFileInformation(const WString& path, FILETIME* lastWrite, DWORD* sizeLow) {
    if (path.IsEmpty()) return ERROR_INVALID_PARAMETER;
    if (!IsAbsolutePath(path)) return ERROR_PATH_NOT_FOUND;
    FileFinder finder(path);
    if (!finder.Found()) {
        DWORD error = GetLastError();
        return error ? error : ERROR_FILE_NOT_FOUND;
    }
    if (lastWrite) *lastWrite = finder.Data().ftLastWriteTime;
    if (sizeLow) *sizeLow = finder.Data().nFileSizeLow;
    return 0;
}

bool FileExists(const WString& path) { return GetFileInformation(path, nullptr, nullptr) == 0; }

// ---------------------------------------------------------------------------
// Directory trees

// Creates the folders of the path one level after the other. Levels that
// already exist are passed over; on a share the server and share levels
// cannot be created, so failures there do not end the walk. On a drive the
// first real failure ends it, and the level created just before it (unless
// it is the first level below the root) is removed again.
ResultCode CreateDirectoryTree(const WString& path, bool lastIsFolder, Array<WString>* created) {
    if (FileExists(path)) return 0;
    Array<WString> elements = SplitPath(path);
    const bool network = IsNetworkPath(RemoveLongPrefix(path));
    const int end = lastIsFolder ? elements.Size() : elements.Size() - 1;

    WString current = elements[0];
    WString previousCreated;  // the level created by the step before, if any
    int level = 0;            // levels below the root walked so far
    DWORD lastError = 0;
    for (int i = 1; i < end; ++i) {
        // Doubled or trailing backslashes leave empty components: nothing to create.
        if (elements[i].IsEmpty()) continue;
        current.Append(u'\\');
        current.Append(elements[i]);
        ++level;
        if (CreateDirectoryW(AddLongPrefixForStorage(current).wc(), nullptr)) {
            if (created) created->Add(current);
            previousCreated = current;
            lastError = 0;
            continue;
        }
        DWORD error = GetLastError();
        lastError = error == ERROR_ALREADY_EXISTS ? 0 : error;
        if (error == ERROR_ALREADY_EXISTS) {
            previousCreated.Clear();
            continue;
        }
        if (network) {
            previousCreated.Clear();
            continue;
        }
        // Only a folder this call created is taken back; a folder that was
        // there before stays, even when it is empty.
        if (level > 2 && !previousCreated.IsEmpty()) {
            if (RemoveDirectoryW(AddLongPrefixForStorage(previousCreated).wc()) && created && created->Size() > 0 &&
                (*created)[created->Size() - 1] == previousCreated)
                created->RemoveAt(created->Size() - 1);
        }
        return error;
    }
    return lastError;
}

// ---------------------------------------------------------------------------
// Deleting

bool DeleteFileLong(const WString& path) { return DeleteFileW(AddLongPrefixForDelete(path).wc()) != FALSE; }

bool RemoveDirectoryLong(const WString& path) { return RemoveDirectoryW(AddLongPrefixForDelete(path).wc()) != FALSE; }

// Everything below the folder goes, read-only entries included. A directory
// that is a link (junction or symbolic link) is removed as a link: the walk
// never follows it into a tree that lies outside the folder.
void DeleteTreeContents(const WString& folder) {
    WString pattern = folder;
    if (pattern.Last() != u'\\') pattern.Append(u'\\');
    pattern.Append(u'*');
    for (FileFinder finder(pattern); finder.Found(); finder.Next()) {
        if (finder.IsDots()) continue;
        WString entry = finder.EntryPath();
        WString longEntry = AddLongPrefixForDelete(entry);
        DWORD attributes = finder.Data().dwFileAttributes;
        if (finder.IsDirectory()) {
            if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) DeleteTreeContents(entry);
            ClearReadOnly(longEntry, attributes);
            RemoveDirectoryW(longEntry.wc());
        } else {
            ClearReadOnly(longEntry, attributes);
            DeleteFileW(longEntry.wc());
        }
    }
}

// ---------------------------------------------------------------------------
// Temporary folder, script names, environment

WString TempFolder() {
    WString folder;
    bool read = GrowAndRetry(MAX_PATH + 1, 3, [&](uint32_t capacity, uint32_t* needed) {
        DWORD n = GetTempPathW(capacity, folder.GetWBuffer(static_cast<int>(capacity)));
        if (n == 0 || n >= capacity) {
            folder.ReleaseBuffer(0);
            *needed = n + 1;
            return n == 0 ? QueryStep::kFailed : QueryStep::kGrow;
        }
        folder.ReleaseBuffer(static_cast<int>(n));
        return QueryStep::kDone;
    });
    if (!read) return WString();
    if (folder.Last() != u'\\') folder.Append(u'\\');
    return folder;
}

WString TempScriptName() {
    WString folder = TempFolder();
    if (folder.IsEmpty()) return WString();
    WString name;
    wchar_t* buffer = name.GetWBuffer(MAX_PATH + 1);
    if (!GetTempFileNameW(folder.wc(), L"CV_", 0, buffer)) {
        name.ReleaseBuffer(0);
        return WString();
    }
    name.ReleaseBuffer();
    DeleteFileW(name.wc());
    int dot = name.FindLastChar(u'.');
    if (dot > name.FindLastChar(u'\\')) name = name.Left(dot);
    name.Append(u".ps1");
    return name;
}

FileIdentity IdentityOfOpenFile(HANDLE file) {
    FileIdentity identity;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return identity;
    identity.volume = info.dwVolumeSerialNumber;
    identity.indexHigh = info.nFileIndexHigh;
    identity.indexLow = info.nFileIndexLow;
    identity.known = true;
    return identity;
}

bool SizeOfOpenFile(HANDLE file, uint64_t* size) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    *size = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}

ResultCode RenameOpenFile(HANDLE file, const WString& newPath, bool replace) {
    typedef BOOL(WINAPI * SetInformationFn)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    static const SetInformationFn setInformation = KernelFunction<SetInformationFn>("SetFileInformationByHandle");
    if (!setInformation) return ERROR_CALL_NOT_IMPLEMENTED;
    const WString target = AddLongPrefixForStorage(newPath);
    const DWORD nameBytes = static_cast<DWORD>(target.Length()) * sizeof(wchar_t);
    const DWORD size = static_cast<DWORD>(sizeof(FILE_RENAME_INFO)) + nameBytes;
    HeapBlock block(size);
    if (!block) return ERROR_NOT_ENOUGH_MEMORY;
    ZeroMemory(block.Get(), size);
    FILE_RENAME_INFO* info = block.As<FILE_RENAME_INFO>();
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = nameBytes;
    CopyMemory(info->FileName, target.wc(), nameBytes);
    if (!setInformation(file, FileRenameInfo, info, size)) return GetLastError();
    return kResultOk;
}

FreshNames::FreshNames() : seed_(GetTickCount() ^ (GetCurrentProcessId() << 16) ^ static_cast<DWORD>(reinterpret_cast<UINT_PTR>(this))) {}

WString FreshNames::Next(const WString& base) {
    static const char16_t kDigits[] = u"0123456789abcdef";
    seed_ = seed_ * 1664525u + 1013904223u;
    WString name = base;
    for (int shift = 28; shift >= 0; shift -= 4) name.Append(kDigits[(seed_ >> shift) & 0xF]);
    return name;
}

UniqueFile CreateFreshFile(const WString& folder, const char16_t* prefix, const char16_t* extension, WString* path) {
    constexpr int kNameAttempts = 64;
    WString base = folder;
    if (!base.IsEmpty() && base.Last() != u'\\') base.Append(u'\\');
    base.Append(prefix);
    FreshNames names;
    path->Clear();
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        WString candidate = names.Next(base) + extension;
        UniqueFile file(CreateFileW(AddLongPrefixForStorage(candidate).wc(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            *path = candidate;
            return file;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return UniqueFile();
}

bool GetEnvVariable(const WString& name, WString* value) {
    value->Clear();
    bool set = false;
    // A value that changed size between calls is asked for again.
    bool read = GrowAndRetry(256, 4, [&](uint32_t capacity, uint32_t* needed) {
        WString text;
        SetLastError(0);
        DWORD n = GetEnvironmentVariableW(name.wc(), text.GetWBuffer(static_cast<int>(capacity)), capacity);
        if (n == 0) {
            text.ReleaseBuffer(0);
            set = GetLastError() != ERROR_ENVVAR_NOT_FOUND;  // set but empty
            return QueryStep::kDone;
        }
        if (n >= capacity) {
            text.ReleaseBuffer(0);
            *needed = n + 1;
            return QueryStep::kGrow;
        }
        text.ReleaseBuffer(static_cast<int>(n));
        *value = text;
        set = true;
        return QueryStep::kDone;
    });
    return read && set;
}

// ---------------------------------------------------------------------------
// FileFinder

FileFinder::FileFinder(const WString& pattern) {
    ZeroMemory(&data_, sizeof(data_));
    if (pattern.Length() >= 32767) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    // A relative pattern is listed from the current folder; entry paths are
    // always built from the full path.
    WString full = pattern;
    if (!IsAbsolutePath(full)) {
        DWORD n = GetFullPathNameW(full.wc(), 0, nullptr, nullptr);
        if (n > 0) {
            WString resolved;
            DWORD got = GetFullPathNameW(full.wc(), n, resolved.GetWBuffer(static_cast<int>(n)), nullptr);
            resolved.ReleaseBuffer(got > 0 && got < n ? static_cast<int>(got) : 0);
            if (!resolved.IsEmpty()) full = resolved;
        }
    }
    root_ = ParentFolder(full);
    handle_.Reset(FindFirstFileW(AddLongPrefixForFinder(full).wc(), &data_));
    found_ = handle_.Valid();
}

FileFinder::~FileFinder() {}

bool FileFinder::Next() {
    found_ = handle_.Valid() && FindNextFileW(handle_.Get(), &data_);
    return found_;
}

bool FileFinder::IsDots() const {
    const wchar_t* name = data_.cFileName;
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

WString FileFinder::EntryPath() const {
    WString path = root_;
    path.Append(u'\\');
    path.Append(data_.cFileName);
    return path;
}

// ---------------------------------------------------------------------------
// AccessListBuilder

struct AccessListBuilder::Entry {
    EXPLICIT_ACCESSW access = {};
    HeapBlock sid;  // the trustee's SID, which access points to
};

namespace {

TRUSTEE_TYPE TrusteeTypeOf(SID_NAME_USE use) {
    switch (use) {
        case SidTypeUser: return TRUSTEE_IS_USER;
        case SidTypeGroup: return TRUSTEE_IS_GROUP;
        case SidTypeDomain: return TRUSTEE_IS_DOMAIN;
        case SidTypeAlias: return TRUSTEE_IS_ALIAS;
        case SidTypeWellKnownGroup: return TRUSTEE_IS_WELL_KNOWN_GROUP;
        case SidTypeDeletedAccount: return TRUSTEE_IS_DELETED;
        case SidTypeInvalid: return TRUSTEE_IS_INVALID;
        case SidTypeComputer: return TRUSTEE_IS_COMPUTER;
        default: return TRUSTEE_IS_UNKNOWN;
    }
}

typedef BOOL(WINAPI* ConvertStringSidToSidWFn)(LPCWSTR, PSID*);

OnceFlag g_convertSidOnce;
ConvertStringSidToSidWFn g_convertStringSidToSid = nullptr;

ConvertStringSidToSidWFn ConvertStringSidFunction() {
    g_convertSidOnce.Run([] {
        g_convertStringSidToSid =
            SystemFunction<ConvertStringSidToSidWFn>(L"advapi32.dll", "ConvertStringSidToSidW");
    });
    return g_convertStringSidToSid;
}

HeapBlock DuplicateSid(PSID source) {
    DWORD length = GetLengthSid(source);
    HeapBlock copy(length);
    if (copy && !::CopySid(length, copy.Get(), source)) return HeapBlock();
    return copy;
}

// Resolves a SID text; the SID must name a known account.
ResultCode SidFromText(const WString& text, HeapBlock* sid, SID_NAME_USE* use) {
    ConvertStringSidToSidWFn convert = ConvertStringSidFunction();
    if (!convert) return ERROR_PROC_NOT_FOUND;
    UniqueLocal<PSID> converted;
    if (!convert(text.wc(), converted.Receive())) return GetLastError();
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    DWORD error = 0;
    if (!LookupAccountSidW(nullptr, converted.Get(), name, &nameLength, domain, &domainLength, use)) error = GetLastError();
    // A name or domain longer than the buffers still proves the account exists.
    if (error == ERROR_INSUFFICIENT_BUFFER) error = 0;
    if (!error) {
        *sid = DuplicateSid(converted.Get());
        if (!*sid) error = ERROR_NOT_ENOUGH_MEMORY;
    }
    return error;
}

// Resolves an account name, retrying once with the sizes the system asks for.
ResultCode SidFromName(const WString& account, HeapBlock* sid, SID_NAME_USE* use) {
    // The helper's size is the SID's; the domain's room is what the system
    // asked for last.
    DWORD domainLength = 256;
    DWORD error = ERROR_INSUFFICIENT_BUFFER;
    bool found = GrowAndRetry(SECURITY_MAX_SID_SIZE, 2, [&](uint32_t sidCapacity, uint32_t* needed) {
        HeapBlock buffer(sidCapacity);
        HeapBlock domain((domainLength + 1) * sizeof(wchar_t));
        if (!buffer || !domain) {
            error = ERROR_NOT_ENOUGH_MEMORY;
            return QueryStep::kFailed;
        }
        DWORD sidSize = sidCapacity;
        BOOL ok = LookupAccountNameW(nullptr, account.wc(), buffer.Get(), &sidSize, domain.As<wchar_t>(),
                                     &domainLength, use);
        error = ok ? 0 : GetLastError();
        if (ok) {
            *sid = static_cast<HeapBlock&&>(buffer);
            return QueryStep::kDone;
        }
        *needed = sidSize;
        return error == ERROR_INSUFFICIENT_BUFFER ? QueryStep::kGrow : QueryStep::kFailed;
    });
    return found ? 0 : error;
}

}  // namespace

AccessListBuilder::AccessListBuilder() {}

AccessListBuilder::~AccessListBuilder() {}

bool AccessListBuilder::SetOwner(const WString& sidText) {
    SID_NAME_USE use = SidTypeUnknown;
    lastError_ = SidFromText(sidText, &owner_, &use);
    return lastError_ == kResultOk;
}

bool AccessListBuilder::GrantAccess(const WString& account, bool isSidText) {
    HeapBlock sid;
    SID_NAME_USE use = SidTypeUnknown;
    DWORD error = isSidText ? SidFromText(account, &sid, &use) : SidFromName(account, &sid, &use);
    if (error) {
        lastError_ = error;
        return false;
    }
    return AddEntry(static_cast<HeapBlock&&>(sid), use);
}

bool AccessListBuilder::GrantSid(PSID sid) {
    HeapBlock copy = sid ? DuplicateSid(sid) : HeapBlock();
    if (!copy) {
        lastError_ = ERROR_INVALID_SID;
        return false;
    }
    return AddEntry(static_cast<HeapBlock&&>(copy), SidTypeUser);
}

bool AccessListBuilder::AddEntry(HeapBlock sid, SID_NAME_USE use) {
    Owned<Entry> entry(new Entry);
    entry->access.grfAccessPermissions = accessMask_;
    entry->access.grfAccessMode = revoke_ ? REVOKE_ACCESS : SET_ACCESS;
    entry->access.grfInheritance = inheritance_;
    entry->access.Trustee.pMultipleTrustee = nullptr;
    entry->access.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    entry->access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry->access.Trustee.TrusteeType = TrusteeTypeOf(use);
    entry->access.Trustee.ptstrName = sid.As<WCHAR>();
    entry->sid = static_cast<HeapBlock&&>(sid);
    if (!entries_.Add(static_cast<Owned<Entry>&&>(entry))) {
        lastError_ = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    return true;
}

PSECURITY_DESCRIPTOR AccessListBuilder::BuildSecurityDescriptor(PSECURITY_DESCRIPTOR existing) {
    PACL existingAcl = nullptr;
    if (existing) {
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        if (!GetSecurityDescriptorDacl(existing, &present, &existingAcl, &defaulted)) {
            lastError_ = GetLastError();
            return nullptr;
        }
        if (!present) existingAcl = nullptr;
    }

    ULONG count = static_cast<ULONG>(entries_.Size());
    HeapBlock list;
    if (count) {
        list = HeapBlock(count * sizeof(EXPLICIT_ACCESSW));
        if (!list) {
            lastError_ = ERROR_NOT_ENOUGH_MEMORY;
            return nullptr;
        }
        for (ULONG i = 0; i < count; ++i) list.As<EXPLICIT_ACCESSW>()[i] = entries_[static_cast<int>(i)]->access;
    }
    UniqueLocal<PACL> acl;
    DWORD error = SetEntriesInAclW(count, list.As<EXPLICIT_ACCESSW>(), existingAcl, acl.Receive());
    if (error != ERROR_SUCCESS) {
        lastError_ = error;
        return nullptr;
    }

    UniqueLocal<PSECURITY_DESCRIPTOR> descriptor(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!descriptor) {
        lastError_ = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    if (!InitializeSecurityDescriptor(descriptor.Get(), SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(descriptor.Get(), TRUE, acl.Get(), FALSE) ||
        (owner_ && !SetSecurityDescriptorOwner(descriptor.Get(), owner_.Get(), FALSE))) {
        lastError_ = GetLastError();
        return nullptr;
    }
    // A rebuilt descriptor replaces the previous one.
    acl_ = static_cast<UniqueLocal<PACL>&&>(acl);
    descriptor_ = static_cast<UniqueLocal<PSECURITY_DESCRIPTOR>&&>(descriptor);
    return descriptor_.Get();
}

bool VolumeSpaceOf(const WString& folder, uint64_t* freeBytes, WString* fileSystem) {
    *freeBytes = 0;
    fileSystem->Clear();
    WString path = folder;
    if (!path.EndsWith(u"\\")) path.Append(u'\\');
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(path.wc(), &available, nullptr, nullptr)) return false;
    *freeBytes = available.QuadPart;
    wchar_t root[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (GetVolumePathNameW(path.wc(), root, MAX_PATH) &&
        GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH))
        *fileSystem = WString(name);
    return true;
}

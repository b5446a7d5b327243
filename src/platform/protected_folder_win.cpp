#include "platform/protected_folder_win.h"

#include <windows.h>

#include "base/owned.h"
#include "platform/fileops_win.h"
#include "platform/process_token_win.h"

namespace {

constexpr int kNameAttempts = 64;
constexpr DWORD kInheritedByAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

}  // namespace

ResultCode ProtectedFolder::BuildDescriptor(AccessListBuilder* builder, PSECURITY_DESCRIPTOR* descriptor) {
    *descriptor = nullptr;
    HeapBlock user = ProcessUserSid();
    if (!user) return ERROR_NO_TOKEN;
    // Owned by Administrators, not by the user: an owner may always rewrite
    // the access list.
    if (!builder->SetOwner(WString(u"S-1-5-32-544"))) return builder->LastError();
    builder->SetInheritance(kInheritedByAll);
    builder->SetAccessMask(FILE_ALL_ACCESS);
    if (!builder->GrantAccess(WString(u"S-1-5-18"), true) || !builder->GrantAccess(WString(u"S-1-5-32-544"), true))
        return builder->LastError();
    builder->SetAccessMask(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE);
    if (!builder->GrantSid(user.Get())) return builder->LastError();
    PSECURITY_DESCRIPTOR built = builder->BuildSecurityDescriptor();
    if (!built) return builder->LastError();
    // Nothing of the parent's list is inherited.
    if (!SetSecurityDescriptorControl(built, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) return GetLastError();
    *descriptor = built;
    return kResultOk;
}

ResultCode ProtectedFolder::Create(const WString& parent, const WString& baseName) {
    Remove();
    AccessListBuilder builder;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const ResultCode built = BuildDescriptor(&builder, &descriptor);
    if (built != kResultOk) return built;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};

    // The parent is held while the folder is made in it.
    HeldFolder parentFolder;
    ResultCode error = parentFolder.Open(parent, WString());
    if (error != kResultOk) return error;
    const WString base = parentFolder.Path() + baseName + u".";
    FreshNames names;
    error = ERROR_ALREADY_EXISTS;
    for (int attempt = 0; attempt < kNameAttempts && error == ERROR_ALREADY_EXISTS; ++attempt) {
        const WString candidate = names.Next(base);
        if (!CreateDirectoryW(candidate.wc(), &attributes)) {
            error = GetLastError();
            continue;
        }
        // Set once more on the folder: Wine does not keep a descriptor
        // given at creation.
        if (!SetFileSecurityW(candidate.wc(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor)) {
            error = GetLastError();
            RemoveDirectoryW(candidate.wc());
            return error;
        }
        error = folder_.Open(parentFolder.Path(), candidate.Mid(parentFolder.Path().Length()));
        if (error != kResultOk) RemoveDirectoryW(candidate.wc());
        return error;
    }
    return error;
}

WString ProtectedFolder::Release() {
    WString path = folder_.Path();
    folder_.Close();
    return path;
}

void ProtectedFolder::Remove() {
    if (!folder_.IsOpen()) return;
    folder_.DeleteContents();
    folder_.RemoveInnermostIfEmpty();
    folder_.Close();
}

WString ProtectedFolderParent() {
    WString windows;
    const UINT length = GetSystemWindowsDirectoryW(windows.GetWBuffer(MAX_PATH), MAX_PATH);
    windows.ReleaseBuffer(length > 0 && length < MAX_PATH ? static_cast<int>(length) : 0);
    if (!windows.IsEmpty()) {
        if (windows.Last() != u'\\') windows.Append(u'\\');
        const WString temp = windows + u"Temp\\";
        const DWORD attributes = GetFileAttributesW(temp.wc());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return temp;
    }
    return TempFolder();
}

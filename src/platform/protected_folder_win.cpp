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

    WString base = parent;
    if (!base.IsEmpty() && base.Last() != u'\\') base.Append(u'\\');
    base.Append(baseName);
    base.Append(u'.');
    FreshNames names;
    DWORD error = ERROR_ALREADY_EXISTS;
    for (int attempt = 0; attempt < kNameAttempts && error == ERROR_ALREADY_EXISTS; ++attempt) {
        WString candidate = names.Next(base);
        if (CreateDirectoryW(candidate.wc(), &attributes)) {
            // Set once more on the folder: Wine does not keep a descriptor
            // given at creation.
            if (!SetFileSecurityW(candidate.wc(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor)) {
                error = GetLastError();
                RemoveDirectoryW(candidate.wc());
                return error;
            }
            candidate.Append(u'\\');
            path_ = candidate;
            return kResultOk;
        }
        error = GetLastError();
    }
    return error;
}

WString ProtectedFolder::Release() {
    WString path = path_;
    path_ = WString();
    return path;
}

void ProtectedFolder::Remove() {
    if (path_.IsEmpty()) return;
    DeleteTreeContents(path_);
    RemoveDirectoryLong(path_);
    path_ = WString();
}

// A working folder that only SYSTEM and Administrators can change, for the
// setups an elevated run launches: always made fresh (a name that exists is
// never used), owned by Administrators, its access list SYSTEM and
// Administrators full control and the process's user read and execute, not
// inherited from its parent and inherited by everything created in it. The
// same descriptor protects a file an elevated transfer writes.
#pragma once

#include <windows.h>

#include "base/result.h"
#include "base/wstr.h"

class AccessListBuilder;

class ProtectedFolder {
public:
    ProtectedFolder() = default;
    ~ProtectedFolder() { Remove(); }
    ProtectedFolder(const ProtectedFolder&) = delete;
    ProtectedFolder& operator=(const ProtectedFolder&) = delete;

    // Creates parent\baseName.<8 hexadecimal digits>, trying other digits
    // while a name exists. 0 or the system's error.
    [[nodiscard]] ResultCode Create(const WString& parent, const WString& baseName);
    bool IsCreated() const { return !path_.IsEmpty(); }
    // The folder, ending with a backslash; empty before Create.
    const WString& Path() const { return path_; }
    // Deletes what is in the folder, then the folder.
    void Remove();
    // Leaves the folder on disk for another process to remove; answers its
    // path (empty before Create) and forgets it.
    WString Release();

    // The folder's descriptor, owned by the builder. 0 or the system's error.
    [[nodiscard]] static ResultCode BuildDescriptor(AccessListBuilder* builder, PSECURITY_DESCRIPTOR* descriptor);

private:
    WString path_;
};

// A working folder that only SYSTEM and Administrators can change, for the
// setups an elevated run launches: always made fresh (a name that exists is
// never used) in the system's temporary folder, whose entries a user cannot
// rename or delete; owned by Administrators, its access list SYSTEM and
// Administrators full control and the process's user read and execute, not
// inherited from its parent and inherited by everything created in it. It is
// held open without delete sharing from its creation to its removal, which
// goes by handles and never follows a link. The same descriptor protects a
// file an elevated transfer writes.
#pragma once

#include <windows.h>

#include "base/result.h"
#include "base/wstr.h"
#include "platform/held_folder_win.h"

class AccessListBuilder;

class ProtectedFolder {
public:
    ProtectedFolder() = default;
    ~ProtectedFolder() { Remove(); }
    ProtectedFolder(const ProtectedFolder&) = delete;
    ProtectedFolder& operator=(const ProtectedFolder&) = delete;

    // Creates parent\baseName.<8 hexadecimal digits>, trying other digits
    // while a name exists, and holds it. 0 or the system's error
    // (kLinkRefused when the parent or the new folder is a link).
    [[nodiscard]] ResultCode Create(const WString& parent, const WString& baseName);
    bool IsCreated() const { return folder_.IsOpen(); }
    // The folder, ending with a backslash; empty before Create.
    const WString& Path() const { return folder_.Path(); }
    const HeldFolder& Folder() const { return folder_; }
    // Deletes what is in the folder, then the folder.
    void Remove();
    // Leaves the folder on disk for another process to remove; answers its
    // path (empty before Create) and lets go of it.
    WString Release();

    // The folder's descriptor, owned by the builder. 0 or the system's error.
    [[nodiscard]] static ResultCode BuildDescriptor(AccessListBuilder* builder, PSECURITY_DESCRIPTOR* descriptor);

private:
    HeldFolder folder_;
};

// Where an elevated run makes its protected folders: the system's own
// temporary folder (<Windows>\Temp\), whose entries no user can rename or
// delete; the user's temporary folder when it cannot be had.
WString ProtectedFolderParent();

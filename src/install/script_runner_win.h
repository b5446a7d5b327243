// Starts the package's PowerShell cleanup script, detached, with the paths
// the chainer could not remove itself.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/array.h"
#include "base/wstr.h"
#include "platform/protected_folder_win.h"

class CleanupScriptRunner {
public:
    CleanupScriptRunner(const Array<WString>& paths, const WString& scriptFile, int32_t retryCount,
                        bool elevate = false)
        : paths_(paths), scriptFile_(scriptFile), retryCount_(retryCount), elevate_(elevate) {}

    // The copy PowerShell reads goes into a folder made fresh in the
    // temporary folder that only SYSTEM and Administrators can change (an
    // elevated run: no process of the user can swap the script before it is
    // read). That folder is handed to the script as the last of its paths,
    // for the script to remove; it is removed at once when nothing started.
    void SetProtectedCopy(bool protectedCopy) { protectedCopy_ = protectedCopy; }

    // True when there is nothing to do or the start was attempted; false when
    // the script could not be copied to its temporary name.
    bool Run();

    // What the last Run used (empty before): the temporary copy, the program
    // and its parameters, and the process id when one was started.
    const WString& TemporaryScript() const { return temporaryScript_; }
    const WString& Program() const { return program_; }
    const WString& Parameters() const { return parameters_; }
    DWORD ProcessId() const { return processId_; }

private:
    const Array<WString>& paths_;
    WString scriptFile_;
    int32_t retryCount_;
    bool elevate_;
    bool protectedCopy_ = false;
    WString temporaryScript_;
    WString program_;
    WString parameters_;
    DWORD processId_ = 0;
};

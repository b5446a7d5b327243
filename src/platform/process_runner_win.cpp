#include "platform/process_runner_win.h"

#include <shellapi.h>

#include "platform/path_rules.h"
#include "platform/win_util.h"


ShellRunResult ShellOpenAndWait(const WString& file, const WString& parameters, const WString& folder,
                                int showCommand) {
    ShellRunResult result;
    // The shell does not understand the long-path prefix.
    WString shellFile = RemoveLongPrefix(file);
    WString shellFolder = RemoveLongPrefix(folder);

    SHELLEXECUTEINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;
    info.lpVerb = L"open";
    info.lpFile = shellFile.wc();
    info.lpParameters = parameters.IsEmpty() ? nullptr : parameters.wc();
    info.lpDirectory = shellFolder.IsEmpty() ? nullptr : shellFolder.wc();
    info.nShow = showCommand;

    if (!ShellExecuteExW(&info)) {
        result.error = GetLastError();
        // A failing shell that left no error behind still must not read as success.
        if (result.error == 0) result.error = ERROR_GEN_FAILURE;
        return result;
    }
    result.started = true;
    if (info.hProcess) {
        UniqueHandle process(info.hProcess);
        result.exitCode = WaitForExitCode(process.Get());
        result.hadProcess = true;
    }
    return result;
}

#include "install/script_runner_win.h"

#include <shellapi.h>

#include "install/command_line.h"
#include "log/log.h"
#include "platform/fileops_win.h"
#include "platform/win_util.h"

namespace {

// "<system folder>WindowsPowerShell\v1.0\powershell.exe" when it exists.
WString PowerShellProgram() {
    WString folder;
    wchar_t* buffer = folder.GetWBuffer(MAX_PATH);
    UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    folder.ReleaseBuffer(length > 0 && length < MAX_PATH ? static_cast<int>(length) : 0);
    if (folder.IsEmpty()) return WString();
    if (folder.Last() != u'\\') folder.Append(u'\\');
    WString program = folder + u"WindowsPowerShell\\v1.0\\powershell.exe";
    return FileExists(program) ? program : WString();
}

}  // namespace

bool CleanupScriptRunner::Run() {
    if (paths_.IsEmpty()) return true;

    Array<WString> paths = paths_;
    ProtectedFolder folderOfCopy;
    if (protectedCopy_) {
        const ResultCode code = folderOfCopy.Create(TempFolder(), WString(u"CorvaneCleanup"));
        if (code != kResultOk) {
            if (LoggingEnabled) LogLine(u"Protected folder for the cleanup script could not be created. Error:" +
                                        SystemMessageText(code));
            return false;
        }
        temporaryScript_ = FreshNames().Next(folderOfCopy.Path() + u"CV_") + u".ps1";
        paths.Add(folderOfCopy.Path().Left(folderOfCopy.Path().Length() - 1));
    } else {
        temporaryScript_ = TempScriptName();
    }
    WString quotedPaths = QuoteCleanupPaths(paths);
    parameters_ = CleanupScriptParameters(WString(u"AllSigned"),
                                          CleanupCommandText(temporaryScript_, quotedPaths, retryCount_));
    if (scriptFile_.IsEmpty() || temporaryScript_.IsEmpty() ||
        !CopyFileW(scriptFile_.wc(), temporaryScript_.wc(), TRUE))
        return false;

    program_ = PowerShellProgram();
    int slash = scriptFile_.FindLastChar(u'\\');
    WString folder = slash < 0 ? WString() : scriptFile_.Left(slash);

    SHELLEXECUTEINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;
    info.lpVerb = elevate_ ? L"runas" : L"open";
    info.lpFile = program_.IsEmpty() ? nullptr : program_.wc();
    info.lpParameters = parameters_.IsEmpty() ? nullptr : parameters_.wc();
    info.lpDirectory = folder.IsEmpty() ? nullptr : folder.wc();
    info.nShow = SW_HIDE;

    // Without a program there is nothing to start: the shell would open the
    // working folder instead.
    if (program_.IsEmpty()) return true;

    BOOL started = ShellExecuteExW(&info);
    if (!started) {
        // No association (31) or an incomplete one (27): once more with the
        // shell's default action, and with its error dialogs.
        INT_PTR answer = reinterpret_cast<INT_PTR>(info.hInstApp);
        if (answer == SE_ERR_NOASSOC || answer == SE_ERR_ASSOCINCOMPLETE || GetLastError() == ERROR_NO_ASSOCIATION) {
            info.fMask = SEE_MASK_NOCLOSEPROCESS;
            info.lpVerb = nullptr;
            info.hProcess = nullptr;
            started = ShellExecuteExW(&info);
        }
    }
    if (started && info.hProcess) {
        UniqueHandle process(info.hProcess);
        processId_ = GetProcessId(process.Get());
        AllowSetForegroundWindow(processId_);
    }
    // The started script removes the folder of its copy itself.
    if (started) {
        const WString kept = folderOfCopy.Release();
        if (!kept.IsEmpty() && LoggingEnabled) LogLine(u"Cleanup script started from the protected folder:" + kept);
    }
    return true;
}

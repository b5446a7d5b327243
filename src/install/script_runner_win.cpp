#include "install/script_runner_win.h"

#include <shellapi.h>

#include "install/command_line.h"
#include "log/log.h"
#include "platform/fileops_win.h"
#include "platform/win_util.h"

namespace {

// "<system folder>WindowsPowerShell\v1.0\powershell.exe" when it exists.
WString PowerShellProgram() {
    const WString folder = SystemFolderPath();
    if (folder.IsEmpty()) return WString();
    WString program = folder + u"WindowsPowerShell\\v1.0\\powershell.exe";
    return FileExists(program) ? program : WString();
}

}  // namespace

bool CleanupScriptRunner::Run() {
    if (paths_.IsEmpty()) return true;

    Array<WString> paths = paths_;
    ProtectedFolder folderOfCopy;
    if (protectedCopy_) {
        const ResultCode code = folderOfCopy.Create(ProtectedFolderParent(), WString(u"CorvaneCleanup"));
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

    // Without a program there is nothing to start: the shell would open the
    // working folder instead.
    if (program_.IsEmpty()) return true;

    BOOL started = FALSE;
    if (protectedCopy_) {
        // An elevated run starts PowerShell itself, by its full path: no
        // class handler or App Paths entry of the user's registry chooses it.
        WString commandLine = Format(u"\"%s\" %s", program_, parameters_);
        STARTUPINFOW startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION process;
        ZeroMemory(&process, sizeof process);
        started = CreateProcessW(program_.wc(), commandLine.GetWBuffer(commandLine.Length()), nullptr, nullptr, FALSE,
                                 CREATE_NEW_PROCESS_GROUP, nullptr, folder.IsEmpty() ? nullptr : folder.wc(), &startup,
                                 &process);
        if (started) {
            UniqueHandle processHandle(process.hProcess);
            UniqueHandle threadHandle(process.hThread);
            processId_ = process.dwProcessId;
            AllowSetForegroundWindow(processId_);
        }
    } else {
        SHELLEXECUTEINFOW info;
        ZeroMemory(&info, sizeof(info));
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
        info.hwnd = nullptr;
        info.lpVerb = elevate_ ? L"runas" : L"open";
        info.lpFile = program_.wc();
        info.lpParameters = parameters_.IsEmpty() ? nullptr : parameters_.wc();
        info.lpDirectory = folder.IsEmpty() ? nullptr : folder.wc();
        info.nShow = SW_HIDE;
        started = ShellExecuteExW(&info);
        if (!started) {
            // No association (31) or an incomplete one (27): once more with
            // the shell's default action, and with its error dialogs.
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
    }
    // The started script removes the folder of its copy itself.
    if (started) {
        const WString kept = folderOfCopy.Release();
        if (!kept.IsEmpty() && LoggingEnabled) LogLine(u"Cleanup script started from the protected folder:" + kept);
    }
    return true;
}

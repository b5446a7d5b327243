#include "install/package_launcher_win.h"

#include "base/fatal.h"
#include "config/interboot_store_win.h"
#include "config/prerequisite.h"
#include "install/command_line.h"
#include "log/log.h"
#include "platform/process_runner_win.h"
#include "platform/process_token_win.h"
#include "platform/references_win.h"
#include "platform/win_util.h"

namespace {

// The chainer's own platform: its token and the real restart request.
class SystemPlatform : public LaunchPlatform {
public:
    bool IsLocalSystem() override { return ProcessIsLocalSystem(); }
    bool IsElevated() override { return ProcessIsElevated(); }

    bool RequestRestart(DWORD reason) override { return ExitWindowsEx(EWX_REBOOT | EWX_FORCE, reason) != FALSE; }
};

SystemPlatform g_systemPlatform;

// Creates the process with the composed command line in the given current
// folder and waits for it. Answers 0 and the exit code, or the system error
// of the creation.
bool RunDirect(const WString& program, const WString& commandLine, const WString& folder, uint32_t* returnCode) {
    WString writable = commandLine;  // CreateProcessW may write into its command line
    wchar_t* buffer = writable.GetWBuffer(writable.Length());
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof(process));
    // A current folder must be a plain path shorter than MAX_PATH; else the
    // process keeps the chainer's.
    const bool usable = !folder.IsEmpty() && !folder.StartsWith(u"\\\\?\\") && folder.Length() < MAX_PATH - 1;
    if (!CreateProcessW(program.wc(), buffer, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                        usable ? folder.wc() : nullptr, &startup, &process)) {
        *returnCode = GetLastError();
        if (*returnCode == 0) *returnCode = ERROR_GEN_FAILURE;
        return false;
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    *returnCode = WaitForExitCode(processHandle.Get());
    return true;
}

}  // namespace

LaunchPlatform& SystemLaunchPlatform() { return g_systemPlatform; }

PackageLauncher::PackageLauncher(NameValueStore* resultSink, PresenceChecker* presence, LaunchPlatform* platform)
    : resultSink_(resultSink), presence_(presence), platform_(platform ? platform : &SystemLaunchPlatform()) {}

void PackageLauncher::Add(const LaunchItem& item) {
    LaunchItem copy = item;
    copy.ReturnCode = 0;
    items_.Add(copy);
}

bool PackageLauncher::Launch(int index) {
    LaunchItem& item = items_[index];
    if (LoggingEnabled) LogLine(WString(u"Launching file:") + item.FilePath);

    bool launched = false;
    const bool localSystem = platform_->IsLocalSystem();
    const LaunchMethod method = ChooseLaunchMethod(item.FilePath, localSystem || platform_->IsElevated());
    if (method == LaunchMethod::Shell) {
        ShellRunResult run = ShellOpenAndWait(item.FilePath, item.CommandLine, FolderOfFile(item.FilePath),
                                              SW_SHOWNORMAL);
        launched = run.started;
        if (!run.started)
            item.ReturnCode = run.error;
        else if (run.hadProcess)
            item.ReturnCode = run.exitCode;
        else
            item.ReturnCode = 0;  // handed to a running program: counts as done
    } else if (method == LaunchMethod::Refused) {
        // No program of the system's own takes this type, and the user's
        // file-type settings must not choose what an elevated run starts.
        if (LoggingEnabled) LogLine(WString(u"Launch refused, an elevated run starts no file of this type:") + item.FilePath);
        item.ReturnCode = ERROR_NOT_SUPPORTED;
    } else {
        // Started directly: under LocalSystem there is no shell to lean on,
        // and an elevated run lets no class handler of the user's own
        // registry take the file over. Only LocalSystem expands folder
        // references in the arguments, as it always has.
        const WString arguments = localSystem ? ExpandFolderProperties(item.CommandLine, false) : item.CommandLine;
        const DirectLaunch launch = ComposeDirectLaunch(method, SystemFolderPath(), item.FilePath, arguments);
        launched = RunDirect(launch.program, launch.commandLine, FolderOfFile(item.FilePath), &item.ReturnCode);
    }

    if (!launched && LoggingEnabled) LogLine(WString(u"Launch failed. Error:") + SystemMessageText(item.ReturnCode));
    if (LoggingEnabled) {
        WString line(u"Return code of launched file:");
        line.AppendUnsigned(item.ReturnCode);
        LogLine(line);
    }

    if (resultSink_) {
        NarrowText name;
        Narrow(item.RetValPropName, &name);
        // Write-once: a code stored by an earlier run stays; nothing else to do
        // when the store refuses.
        (void)resultSink_->SetInt(name.c_str(), static_cast<int32_t>(item.ReturnCode));
    }

    if (item.ReturnCode == 3010 || (item.ReturnCode & 0xC0000000u) == 0xC0000000u) Sleep(2000);
    return item.ReturnCode == 0;
}

InstallOutcome PackageLauncher::Install(int index, bool silent) {
    if (!Launch(index)) return kInstallFailed;
    const LaunchItem& item = items_[index];
    if (item.RebootMode == 0) return kInstalled;
    if (item.RebootMode == 2 && !(presence_ && presence_->IsPresent(item.PrerequisiteIndex))) return kInstalled;
    if (item.RebootMode != 1 && item.RebootMode != 2) return kInstalled;

    if (LoggingEnabled) LogLine(WString(u"Rebooting machine..."));
    rebootStarted_ = true;
    RebootMachine(silent);
    return kRebootStarted;
}

WString ChooseCommandLine(const WString& generalOptions, const Prerequisite& prerequisite) {
    return generalOptions.Contains(u'b') ? prerequisite.BasicUiCommandLine : prerequisite.NoUiCommandLine;
}

int32_t RebootModeFromOptions(const WString& options) {
    if (!options.Contains(u'r')) return 0;
    return options.Contains(u'R') ? 2 : 1;
}

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

}  // namespace

LaunchPlatform& SystemLaunchPlatform() { return g_systemPlatform; }

bool LaunchPlatform::RunThroughShell(const WString& file, const WString& parameters, const WString& folder,
                                     uint32_t* code) {
    const ShellRunResult run = ShellOpenAndWait(file, parameters, folder, SW_SHOWNORMAL);
    if (!run.started)
        *code = run.error;
    else if (run.hadProcess)
        *code = run.exitCode;
    else
        *code = 0;  // handed to a running program: counts as done
    return run.started;
}

bool LaunchPlatform::RunDirectly(const WString& program, const WString& commandLine, const WString& folder,
                                 uint32_t* code) {
    // A current folder must be a plain path shorter than MAX_PATH; else the
    // process keeps the chainer's.
    const bool usable = !folder.IsEmpty() && !folder.StartsWith(u"\\\\?\\") && folder.Length() < MAX_PATH - 1;
    UniqueHandle process = StartProcess(program, commandLine, usable ? folder : WString(), SW_SHOWNORMAL);
    if (!process) {
        *code = GetLastError();
        if (*code == 0) *code = ERROR_GEN_FAILURE;
        return false;
    }
    *code = WaitForExitCode(process.Get());
    return true;
}

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
    if (item.Method == LaunchMethod::Shell) {
        launched = platform_->RunThroughShell(item.FilePath, item.CommandLine, FolderOfFile(item.FilePath), &item.ReturnCode);
    } else if (item.Method == LaunchMethod::Refused) {
        // No program of the system's own takes this type, and the user's
        // file-type settings must not choose what an elevated run starts.
        if (LoggingEnabled) LogLine(WString(u"Launch refused, an elevated run starts no file of this type:") + item.FilePath);
        item.ReturnCode = ERROR_NOT_SUPPORTED;
    } else {
        // Started directly: under LocalSystem there is no shell to lean on,
        // and an elevated run lets no class handler of the user's own
        // registry take the file over.
        const DirectLaunch launch = ComposeDirectLaunch(item.Method, SystemFolderPath(), item.FilePath, item.CommandLine);
        launched = platform_->RunDirectly(launch.program, launch.commandLine, FolderOfFile(item.FilePath), &item.ReturnCode);
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
    return launched;
}

InstallOutcome PackageLauncher::Install(int index, bool silent, RetryWaiter* waiter) {
    CodeMeaning meaning = CodeMeaning::kFailure;
    for (int attempt = 0;; ++attempt) {
        const bool launched = Launch(index);
        const LaunchItem& item = items_[index];
        // A setup that could not be started failed, whatever its table says
        // of the system error that stands for its code.
        meaning = launched ? item.Codes.MeaningOf(item.ReturnCode) : CodeMeaning::kFailure;
        if (launched && item.Codes.Lists(item.ReturnCode) && LoggingEnabled)
            LogLine(WString(u"Return code means by ReturnCodes:") + CodeMeaningWord(meaning));
        if (meaning != CodeMeaning::kRetry) break;
        if (attempt >= kRetryLaunches) {
            if (LoggingEnabled) LogLine(Format(u"Setup still asks to be started again after (launches):%d", attempt + 1));
            meaning = CodeMeaning::kFailure;
            break;
        }
        if (LoggingEnabled) LogLine(Format(u"Setup asks to be started again, waiting (ms):%u", kRetryPauseMs));
        const bool waited = waiter ? waiter->WaitBeforeRetry(attempt + 1, kRetryLaunches, kRetryPauseMs)
                                   : (Sleep(kRetryPauseMs), true);
        if (!waited) {
            meaning = CodeMeaning::kFailure;
            break;
        }
    }
    const LaunchItem& item = items_[index];
    switch (meaning) {
        case CodeMeaning::kFailure:
        case CodeMeaning::kRetry:
            return kInstallFailed;
        case CodeMeaning::kRebooting:
            // The setup restarts the machine itself: nothing more is started,
            // and the run starts no restart of its own.
            rebootPending_ = true;
            return kRestartedBySetup;
        case CodeMeaning::kReboot:
            // Succeeded; the restart comes later. With a reboot mode the
            // procedure runs once the chain has ended.
            rebootPending_ = true;
            if (item.Reboot != RebootMode::kNone && restartAfterChain_ < 0) restartAfterChain_ = index;
            return kInstalled;
        case CodeMeaning::kSuccess:
            break;
    }
    if (item.Reboot == RebootMode::kNone) return kInstalled;
    if (item.Reboot == RebootMode::kIfPresentAfterSuccess && !(presence_ && presence_->IsPresent(item.PrerequisiteIndex)))
        return kInstalled;
    if (LoggingEnabled) LogLine(WString(u"Rebooting machine..."));
    rebootStarted_ = true;
    RebootMachine(silent);
    return kRebootStarted;
}

bool PackageLauncher::FinishChain(bool silent) {
    if (restartAfterChain_ < 0 || rebootStarted_) return false;
    const LaunchItem& item = items_[restartAfterChain_];
    restartAfterChain_ = -1;
    if (item.Reboot == RebootMode::kIfPresentAfterSuccess && !(presence_ && presence_->IsPresent(item.PrerequisiteIndex)))
        return false;
    if (LoggingEnabled) LogLine(WString(u"Rebooting machine..."));
    rebootStarted_ = true;
    RebootMachine(silent);
    return true;
}

// Launches the setups of the prerequisites to install and records their
// return codes.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/array.h"
#include "base/wstr.h"
#include "install/command_line.h"
#include "install/return_codes.h"

class NameValueStore;

// Waits before a setup that asked to be started again is started once more
// (attempt counted from 1 of attempts); false when the wait was cancelled.
class RetryWaiter {
public:
    virtual ~RetryWaiter() {}
    virtual bool WaitBeforeRetry(int attempt, int attempts, uint32_t milliseconds) = 0;
};

struct LaunchItem {
    WString FilePath;
    WString CommandLine;  // the arguments as handed to the setup
    WString Name;
    LaunchMethod Method = LaunchMethod::Shell;
    RebootMode Reboot = RebootMode::kNone;
    ReturnCodeTable Codes;  // what its return codes mean
    uint32_t ReturnCode = 0;
    WString RetValPropName;
    int32_t PrerequisiteIndex = -1;
};

enum InstallOutcome {
    kInstalled = 0,
    kInstallFailed = 1,
    kRebootStarted = 2,      // the restart procedure ran after it (the run stops)
    kRestartedBySetup = 3,   // its return code says it started a restart itself (the run stops)
};

// Re-evaluates a prerequisite by index and answers whether it is now present.
class PresenceChecker {
public:
    virtual ~PresenceChecker() {}
    virtual bool IsPresent(int index) = 0;
};

// What a launch needs from the machine that tests may stand in for: whether
// the process runs as LocalSystem or elevated, starting a setup and waiting
// for it, and the restart request.
class LaunchPlatform {
public:
    virtual ~LaunchPlatform() {}
    virtual bool IsLocalSystem() = 0;
    // Elevated or LocalSystem: setups are then started directly, never
    // through the shell's class handlers.
    virtual bool IsElevated() { return IsLocalSystem(); }
    // Starts the file through the shell ("open") and waits for it. True when
    // it started; *code is its exit code (0 when the shell handed it to a
    // running program), or the system's error when it did not start.
    virtual bool RunThroughShell(const WString& file, const WString& parameters, const WString& folder, uint32_t* code);
    // Creates the process with the whole command line, in the folder (when
    // usable), and waits for it; as above.
    virtual bool RunDirectly(const WString& program, const WString& commandLine, const WString& folder, uint32_t* code);
    // ExitWindowsEx with reboot and force and the given reason.
    virtual bool RequestRestart(DWORD reason) = 0;
};
LaunchPlatform& SystemLaunchPlatform();

class PackageLauncher {
public:
    PackageLauncher(NameValueStore* resultSink, PresenceChecker* presence,
                    LaunchPlatform* platform = &SystemLaunchPlatform());

    // Adds an item with ReturnCode 0; silently not added when the list cannot grow.
    void Add(const LaunchItem& item);
    void Clear() { items_.Clear(); }
    int Count() const { return items_.Size(); }
    const LaunchItem& Item(int index) const { return items_[index]; }
    // Records why an item was never launched (its file was missing or
    // failed its check), where a launched one keeps its return code.
    void SetNotLaunched(int index, uint32_t code) { items_[index].ReturnCode = code; }
    // The file an item launches, when it is launched from elsewhere.
    void SetFilePath(int index, const WString& path) { items_[index].FilePath = path; }

    // Starts the item by its method and waits for it; its return code is
    // logged and recorded. True when it was started.
    bool Launch(int index);
    // Launch, and what its return code means by the item's table: a setup
    // that asks to be started again is, after a pause, until it stops
    // asking or kRetryLaunches more
    // launches are spent (the waiter waits, and may cancel; without one the
    // pause is slept); a success with the item's reboot mode runs the
    // restart procedure; "reboot" leaves a restart pending (and with a
    // reboot mode runs the procedure once the chain has ended, see
    // FinishChain); "rebooting" stops the run without a restart of its own.
    InstallOutcome Install(int index, bool silent, RetryWaiter* waiter = nullptr);
    // The chain has ended: a restart that a "reboot" code asked for with the
    // item's reboot mode runs now. True when the procedure ran.
    bool FinishChain(bool silent);
    bool RebootMachine(bool silent);

    bool RebootDeclined() const { return rebootDeclined_; }
    bool RebootStarted() const { return rebootStarted_; }
    // A return code meant that a restart is needed later, or that the setup
    // has started one: the run ends with -1 and keeps its context.
    bool RebootPending() const { return rebootPending_; }

private:
    Array<LaunchItem> items_;
    NameValueStore* resultSink_;
    PresenceChecker* presence_;
    LaunchPlatform* platform_;
    bool rebootDeclined_ = false;
    bool rebootStarted_ = false;
    bool rebootPending_ = false;
    // The item whose "reboot" code asked for the restart procedure once the
    // chain has ended (-1: none).
    int restartAfterChain_ = -1;
};

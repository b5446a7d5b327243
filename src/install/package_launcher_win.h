// Launches the setups of the prerequisites to install and records their
// return codes.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/array.h"
#include "base/wstr.h"

class NameValueStore;

struct LaunchItem {
    WString FilePath;
    WString CommandLine;
    WString Name;
    int32_t RebootMode = 0;  // 0 none, 1 after success, 2 after success if then present
    uint32_t ReturnCode = 0;
    WString RetValPropName;
    int32_t PrerequisiteIndex = -1;
};

enum InstallOutcome { kInstalled = 0, kInstallFailed = 1, kRebootStarted = 2 };

// Re-evaluates a prerequisite by index and answers whether it is now present.
class PresenceChecker {
public:
    virtual ~PresenceChecker() {}
    virtual bool IsPresent(int index) = 0;
};

// What a launch needs from the machine that tests may stand in for: whether
// the process runs as LocalSystem or elevated, and the restart request.
class LaunchPlatform {
public:
    virtual ~LaunchPlatform() {}
    virtual bool IsLocalSystem() = 0;
    // Elevated or LocalSystem: installer packages then go to msiexec.exe of
    // the system folder directly, never through the shell's class handlers.
    virtual bool IsElevated() { return IsLocalSystem(); }
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

    bool Launch(int index);
    InstallOutcome Install(int index, bool silent);
    bool RebootMachine(bool silent);

    bool RebootDeclined() const { return rebootDeclined_; }
    bool RebootStarted() const { return rebootStarted_; }

private:
    Array<LaunchItem> items_;
    NameValueStore* resultSink_;
    PresenceChecker* presence_;
    LaunchPlatform* platform_;
    bool rebootDeclined_ = false;
    bool rebootStarted_ = false;
};

// The command line chosen for the run's mode ("b" first) and the reboot mode
// from a prerequisite's options ("r", "rR").
struct Prerequisite;
WString ChooseCommandLine(const WString& generalOptions, const Prerequisite& prerequisite);
int32_t RebootModeFromOptions(const WString& options);

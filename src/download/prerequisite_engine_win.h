// The engine that carries out the decided work: downloads, web sites,
// installs, and the mandatory check afterwards.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/array.h"
#include "base/result.h"
#include "base/wstr.h"
#include "download/transfer_observer.h"
#include "install/package_launcher_win.h"

class InterbootStore;
class PrerequisiteList;
class PackageLocator;
class StatusWindow;

struct DownloadTask {
    WString Url;
    uint32_t ExactSize = 0;
    WString TargetPath;
    int32_t Status = 4;
    int32_t PrerequisiteIndex = -1;
    WString Folder;
};

class DownloadQueue {
public:
    WString downloadFolder;
    Array<DownloadTask> tasks;
    CredentialStore* credentials = nullptr;
    bool silent = false;
    TransferObserver* observer = nullptr;
    ResultCode lastResult = kResultOk;
    Array<WString> filesToDelete;
    Array<WString> foldersCreated;
};

class PrerequisiteEngine : public PresenceChecker {
public:
    PrerequisiteEngine(InterbootStore* store, PrerequisiteList* list, PackageLocator* locator,
                       StatusWindow* statusWindow, LaunchPlatform* platform = &SystemLaunchPlatform());
    ~PrerequisiteEngine() override;

    void Prepare() {}
    void SetSilent(bool silent) { queue_.silent = silent; }

    [[nodiscard]] ResultCode DownloadAll(TransferObserver* observer);
    void OpenSites(TransferObserver* observer);
    [[nodiscard]] ResultCode InstallAll(TransferObserver* observer);
    void Reevaluate();
    bool CheckMandatory();
    bool IsPresent(int index) override;
    // The body of the progress dialog's worker thread.
    [[nodiscard]] ResultCode RunSequence(TransferObserver* observer);

    bool RebootStarted() const { return launcher_.RebootStarted(); }
    bool RebootDeclined() const { return launcher_.RebootDeclined(); }
    // Set by the progress dialog when Windows shuts down or logs off.
    volatile bool ShutdownInProgress = false;

    PrerequisiteList* List() { return list_; }
    const DownloadQueue& Queue() const { return queue_; }
    const PackageLauncher& Launcher() const { return launcher_; }

private:
    void RunTask(DownloadTask& task, bool keep);
    void PrepareInstalls();
    // The download target of a prerequisite, long-path prefixed when long.
    WString TargetPathOf(const struct Prerequisite& prerequisite) const;

    StatusWindow* statusWindow_;
    PrerequisiteList* list_;
    PackageLocator* locator_;
    DownloadQueue queue_;
    PackageLauncher launcher_;
};

// The engine that carries out the decided work: downloads, web sites,
// installs, and the mandatory check afterwards.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/array.h"
#include "base/result.h"
#include "base/wstr.h"
#include "download/transfer_observer.h"
#include "download/verified_file_win.h"
#include "install/package_launcher_win.h"
#include "platform/protected_folder_win.h"

class InterbootStore;
class PrerequisiteList;
class PackageLocator;
class StatusWindow;

struct DownloadTask {
    WString Url;
    WString TargetPath;
    int32_t Status = 4;
    int32_t PrerequisiteIndex = -1;
    WString Folder;
    // Downloads allowed before the file is rejected: 2 (a file that fails is
    // downloaded once more), 1 when it replaces a file found at the target.
    int32_t Attempts = 2;
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
    // Runs the task's transfer; on success hands its file over to the hold
    // (*verdict says whether it stands).
    void RunTask(DownloadTask& task, bool keep, VerifiedFile* hold, Verdict* verdict);
    // Downloads the task's file and takes the hold on it once it passed its
    // checks; a file that fails is deleted and downloaded once more. 0, the
    // transfer's code, or E_DL_FILE_REJECTED when the fresh bytes fail too.
    [[nodiscard]] ResultCode FetchVerified(DownloadTask& task, bool keep, const struct Prerequisite& prerequisite);
    // Holds every file found at its target from an earlier run that passes
    // its checks; one that fails is deleted and downloaded afresh.
    void HoldFoundFiles();
    // Holds and checks the file an item launches, unless it is held already.
    bool HoldForLaunch(const LaunchItem& item);
    // In an elevated run, moves a downloaded setup into the protected folder
    // (one the transfer wrote under the protected descriptor), or else copies
    // it there under its checks, and points the launch there; true when the
    // item may be launched. *moved tells that the file was moved, not copied.
    bool MoveToProtectedFolder(int launchIndex, bool* moved);
    // Creates the protected folder on first need (logged); false when it
    // cannot be made.
    bool EnsureProtectedFolder();
    void PrepareInstalls();
    // Every prerequisite's download target, long-path prefixed when long;
    // moved marks those given a subfolder of their own.
    void ComputeTargets(Array<bool>* moved);
    // Logs every task from index first on as skipped.
    void LogSkipped(int first);

    // Per prerequisite: its download target and the hold on its checked file.
    Array<WString> targets_;
    Array<VerifiedFile> held_;
    // Per prerequisite: the file found at its target failed its check, and
    // is downloaded afresh only once.
    Array<bool> replaced_;
    // Where an elevated run launches downloaded setups from; made on first need.
    ProtectedFolder protected_;

    StatusWindow* statusWindow_;
    PrerequisiteList* list_;
    PackageLocator* locator_;
    DownloadQueue queue_;
    PackageLauncher launcher_;
    LaunchPlatform* platform_;
};

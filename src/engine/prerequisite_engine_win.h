// The engine that carries out the run's plan: downloads, web sites, installs,
// and the mandatory check afterwards. The plan (engine/run_plan.h) is built
// once per evaluation; the engine applies it and records what happened to
// every item in the run's outcome.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/array.h"
#include "base/result.h"
#include "base/wstr.h"
#include "download/transfer_observer.h"
#include "download/verified_file_win.h"
#include "engine/run_outcome.h"
#include "engine/run_plan.h"
#include "install/package_launcher_win.h"
#include "platform/protected_folder_win.h"

class InterbootStore;
class PrerequisiteList;
class PackageLocator;

// Runs the transfer of one planned download from its url (place 1 its Url,
// from 2 on a mirror, which keeps a part file of its own) and takes the hold
// on the file it put in place; the system's runner is a FileTransfer (tests
// stand in for it). 0 with the verdict that stands for the held file, or the
// transfer's code.
class DownloadRunner {
public:
    virtual ~DownloadRunner() {}
    [[nodiscard]] virtual ResultCode Run(const PlannedDownload& download, const WString& root, int place,
                                         bool protect, TransferObserver* observer, VerifiedFile* hold,
                                         Verdict* verdict) = 0;
};
DownloadRunner& SystemDownloadRunner();

class PrerequisiteEngine : public PresenceChecker {
public:
    PrerequisiteEngine(InterbootStore* store, PrerequisiteList* list, PackageLocator* locator,
                       LaunchPlatform* platform = &SystemLaunchPlatform(),
                       DownloadRunner* downloads = &SystemDownloadRunner());
    ~PrerequisiteEngine() override;

    // The plan of the last evaluation; Replan builds it again from the
    // list as it stands (after an evaluation or a phase that changed it).
    const RunPlan& Plan() const { return plan_; }
    void Replan();

    // The phases. Each records what happened to its items in the outcome;
    // false when the phase stopped before its end (a mandatory
    // prerequisite failed, a downloaded file was rejected, or the user
    // cancelled), its remaining items recorded as skipped.
    bool DownloadAll(TransferObserver* observer);
    void OpenSites(TransferObserver* observer);
    bool InstallAll(TransferObserver* observer);
    // Evaluates again after the installs; items whose setup succeeded but
    // that are still missing are recorded as such.
    void Reevaluate();
    // True when no mandatory prerequisite is still missing.
    bool CheckMandatory();
    bool IsPresent(int index) override;
    // Items of the phases that did not run (after a stop) recorded as skipped.
    void SkipRemaining();

    RunOutcome& Outcome() { return outcome_; }
    const RunOutcome& Outcome() const { return outcome_; }
    bool RebootStarted() const { return launcher_.RebootStarted(); }
    bool RebootDeclined() const { return launcher_.RebootDeclined(); }
    // A setup's return code meant that a restart is needed, or under way.
    bool RebootPending() const { return launcher_.RebootPending(); }
    // Set by the progress dialog when Windows shuts down or logs off.
    volatile bool ShutdownInProgress = false;

    PrerequisiteList* List() { return list_; }
    const PackageLauncher& Launcher() const { return launcher_; }

private:
    // Downloads one item's file and takes the hold on it once it passed its
    // checks; a file that fails is deleted and downloaded once more (or not,
    // when it replaces a file found at the target). 0, the transfer's code,
    // or E_DL_FILE_REJECTED when the fresh bytes fail too.
    [[nodiscard]] ResultCode FetchVerified(const PlannedItem& item, TransferObserver* observer);
    // Holds every file found at its target from an earlier run that passes
    // its checks; one that fails is deleted and downloaded afresh.
    void HoldFoundFiles(TransferObserver* observer);
    // Holds and checks the file an item launches, unless it is held already.
    bool HoldForLaunch(const LaunchItem& item, TransferObserver* observer);
    // In an elevated run, moves a downloaded setup into the protected folder
    // (one the transfer wrote under the protected descriptor), or else copies
    // it there under its checks, and points the launch there; true when the
    // item may be launched. *moved tells that the file was moved, not copied.
    bool MoveToProtectedFolder(int launchIndex, bool* moved, TransferObserver* observer);
    // Creates the protected folder on first need (logged); false when it
    // cannot be made.
    bool EnsureProtectedFolder();
    void PrepareInstalls();
    void Record(const PlannedItem& item, WorkKind kind, WorkResult result, uint32_t code = 0, bool setupCode = false);
    // Logs and records the work items of a kind from position first of the
    // plan on as skipped.
    void SkipFrom(int first, WorkKind kind);

    RunPlan plan_;
    RunOutcome outcome_;
    // Per prerequisite: the hold on its checked file, and whether the file
    // found at its target failed its check (downloaded afresh only once).
    Array<VerifiedFile> held_;
    Array<bool> replaced_;
    // Where an elevated run launches downloaded setups from; made on first need.
    ProtectedFolder protected_;
    // Downloads deleted when the engine ends (unless KeepFiles keeps them),
    // and the folders made for them, removed when they are left empty.
    Array<WString> filesToDelete_;
    Array<WString> foldersCreated_;
    // Phases that have run, for SkipRemaining.
    bool downloadsRan_ = false;
    bool sitesRan_ = false;
    bool installsRan_ = false;

    PrerequisiteList* list_;
    PackageLocator* locator_;
    PackageLauncher launcher_;
    LaunchPlatform* platform_;
    DownloadRunner* downloads_;
};

// The one order of the phases, for the silent run and the progress dialog
// alike: downloads, web sites, installs; then, unless a restart is pending,
// the re-evaluation and the mandatory check. A silent run goes through
// every phase whatever the one before did; the dialog's run
// (stopAfterFailedPhase) stops at the first phase that stopped, and at a
// cancellation. OnFinished(kFinishedSequence) tells the observer that every
// phase went through. Answers the run's outcome.
RunOutcome RunWork(PrerequisiteEngine& engine, TransferObserver* observer, bool stopAfterFailedPhase);

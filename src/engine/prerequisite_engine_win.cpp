#include "engine/prerequisite_engine_win.h"

#include <objbase.h>

#include "config/interboot_store_win.h"
#include "config/package_locator.h"
#include "config/prerequisite.h"
#include "download/file_transfer_win.h"
#include "download/result_codes.h"
#include "download/url_for_log.h"
#include "log/log.h"
#include "platform/fileops_win.h"
#include "platform/path_rules.h"
#include "platform/process_token_win.h"
#include "platform/references_win.h"
#include "platform/win_util.h"

namespace {

void Log(const char16_t* prefix, const WString& value) {
    if (LoggingEnabled) LogLine(prefix + value);
}

// The protected folder is named after DefaultProdCode when that is a plain
// file name.
WString ProtectedFolderBaseName(const WString& productCode) {
    if (productCode.IsEmpty() || productCode.FindFirstOf(u"\\/:*?\"<>|") >= 0 || productCode.Trimmed().IsEmpty() ||
        productCode == u"." || productCode == u"..")
        return WString(u"Corvane");
    return productCode;
}

// The resolver of the folder properties a downloaded setup's arguments may
// hold; environment and registry references stay as they are written.
class FolderPropertiesOnly : public ReferenceResolver {
public:
    bool FolderProperty(const WString& name, bool use64BitView, WString* value) override {
        return SystemReferences().FolderProperty(name, use64BitView, value);
    }
    WString EnvironmentVariable(const WString& name) override { return u"%" + name + u"%"; }
    WString RegistryValue(const WString& path, bool) override { return u"!" + path + u"!"; }
};

// A setup that asks to be started again waits with the observer told, and
// ends the wait when the user cancels.
class ObserverRetryWaiter : public RetryWaiter {
public:
    explicit ObserverRetryWaiter(TransferObserver* observer) : observer_(observer) {}
    bool WaitBeforeRetry(int attempt, int attempts, uint32_t milliseconds) override {
        if (observer_) observer_->OnWaiting(WaitReason::InstallerBusy, static_cast<uint32_t>(attempt),
                                            static_cast<uint32_t>(attempts));
        const DWORD start = GetTickCount();
        bool cancelled = false;
        while (GetTickCount() - start < milliseconds && !(cancelled = observer_ && observer_->IsCancelled())) Sleep(50);
        if (observer_) observer_->OnWaiting(WaitReason::InstallerBusy, 0, static_cast<uint32_t>(attempts));
        return !cancelled;
    }

private:
    TransferObserver* observer_;
};

// The transfer judges the bytes as it writes them and refuses a part file
// that fails before its rename; the hold then takes what it put in place.
class TransferRunner : public DownloadRunner {
public:
    ResultCode Run(const PlannedDownload& download, const WString& root, int mirror, bool protect,
                   TransferObserver* observer, VerifiedFile* hold, Verdict* verdict) override {
        FileTransfer transfer(observer, &TheCredentialStore());
        transfer.SetMirror(mirror);
        transfer.SetDownloadRoot(root);
        transfer.SetExpected(download.expected);
        // An https URL that lands on http is followed only when a digest or
        // a publisher check judges the bytes.
        transfer.SetVerifiable(download.expected.JudgesBytes());
        transfer.SetProtectWhileWriting(protect);
        const ResultCode result = transfer.Download(download.url, download.target);
        if (result != kResultOk) return result;
        if (LoggingEnabled) LogLine(u"Download completed succesfully.");
        // Taken once the transfer has closed its last write handle: from
        // here to the launch nobody can change the file. The transfer's
        // verdict stands only for the very file it wrote under the protected
        // descriptor; anything else is judged from the hold.
        *verdict = transfer.HandOver(hold);
        return kResultOk;
    }
};

TransferRunner g_transferRunner;

}  // namespace

DownloadRunner& SystemDownloadRunner() { return g_transferRunner; }

PrerequisiteEngine::PrerequisiteEngine(InterbootStore* store, PrerequisiteList* list, PackageLocator* locator,
                                       LaunchPlatform* platform, DownloadRunner* downloads)
    : list_(list),
      locator_(locator),
      launcher_(store, this, platform),
      platform_(platform ? platform : &SystemLaunchPlatform()),
      downloads_(downloads ? downloads : &SystemDownloadRunner()) {
    Replan();
}

PrerequisiteEngine::~PrerequisiteEngine() {
    launcher_.Clear();
    held_.Clear();  // a held file cannot be deleted
    // By handles, the folders held from the download folder down: a link
    // put on the way is never followed.
    const WString& root = plan_.facts.downloadFolder;
    for (const WString& file : filesToDelete_) (void)DeleteBelow(root, file);
    for (int i = foldersCreated_.Size() - 1; i >= 0; --i) (void)RemoveFolderBelow(root, foldersCreated_[i]);
}

void PrerequisiteEngine::Replan() {
    if (!list_->TargetsComputed()) list_->ComputeTargets(list_->ResolvedDownloadFolder());
    PlanFacts facts;
    facts.localSystem = platform_->IsLocalSystem();
    facts.elevated = facts.localSystem || platform_->IsElevated();
    facts.systemFolder = SystemFolderPath();
    facts.downloadFolder = list_->ResolvedDownloadFolder();
    facts.extractionFolder = list_->ResolvedExtractionFolder();
    FolderPropertiesOnly folders;
    plan_ = BuildRunPlan(*list_, *locator_, facts, folders);
    while (held_.Size() < list_->Count()) held_.Add(VerifiedFile());
    while (replaced_.Size() < list_->Count()) replaced_.Add(false);
}

void PrerequisiteEngine::Record(const PlannedItem& item, WorkKind kind, WorkResult result, uint32_t code,
                                bool setupCode) {
    WorkItemOutcome entry;
    entry.name = item.name;
    entry.kind = kind;
    entry.result = result;
    entry.code = code;
    entry.setupCode = setupCode;
    entry.mandatory = item.mandatory;
    entry.prerequisite = item.index;
    outcome_.items.Add(entry);
}

ResultCode PrerequisiteEngine::FetchVerified(const PlannedItem& item, TransferObserver* observer) {
    const PlannedDownload& download = item.download;
    VerifiedFile& hold = held_[item.index];
    const int attempts = replaced_[item.index] ? 1 : 2;
    if (!plan_.KeepsDownloads()) {
        bool listed = false;
        for (const WString& file : filesToDelete_) listed = listed || file == download.target;
        if (!listed) filesToDelete_.Add(download.target);
    }
    // The file's places in order: its Url, then its mirrors. A place whose
    // download fails, or whose bytes fail their checks, gives way to the
    // next; the last one's answer is the download's.
    const int places = 1 + download.mirrors.Size();
    ResultCode result = kResultOk;
    for (int place = 1; place <= places; ++place) {
        PlannedDownload from = download;
        from.url = place == 1 ? download.url : download.mirrors[place - 2];
        if (places > 1) {
            Log(u"Downloading from:", UrlForLog(from.url));
            if (observer && place > 1) observer->SetStatusText(UrlHostForDisplay(from.url), kStatusSource, 0);
        }
        for (int attempt = 0; attempt < attempts; ++attempt) {
            if (attempt > 0) Log(u"Downloading once more:", item.name);
            // A folder that cannot be made shows as the transfer's failure.
            (void)CreateDirectoryTree(download.target, false, &foldersCreated_);
            Verdict verdict = Verdict::Unreadable;
            result = downloads_->Run(from, plan_.facts.downloadFolder, place, plan_.facts.elevated, observer, &hold,
                                     &verdict);
            if (result != kResultOk && result != E_DL_FILE_REJECTED) break;
            if (result == kResultOk && verdict == Verdict::Cancelled) {
                // Cancelled while the hold read the file: it stays unjudged.
                hold.Close();
                return E_DL_CANCELLED;
            }
            if (result == kResultOk) {
                // Another place's part file stays, as every unfinished download's does.
                if (verdict == Verdict::Accepted) return kResultOk;
                hold.Close();
                (void)DeleteBelow(plan_.facts.downloadFolder, download.target);
                result = E_DL_FILE_REJECTED;
            }
            Log(u"Downloaded file failed its check and was deleted:", download.target);
        }
        if (result == E_DL_CANCELLED) return result;
        if (place < places && LoggingEnabled) LogLine(u"Download failed, trying the next place. Error:" + SystemMessageText(result));
    }
    return result;
}

void PrerequisiteEngine::HoldFoundFiles(TransferObserver* observer) {
    bool changed = false;
    for (const PlannedItem& item : plan_.items) {
        if (item.action != kActionDownloaded || item.download.localFile) continue;
        VerifiedFile& hold = held_[item.index];
        const Verdict verdict =
            hold.Open(item.download.target) ? hold.Judge(item.download.expected, observer) : Verdict::Unreadable;
        if (verdict == Verdict::Accepted) continue;
        hold.Close();
        if (verdict == Verdict::Cancelled) break;  // the download phase sees the cancellation next
        Log(u"File found at the download target failed its check and is downloaded afresh:", item.download.target);
        (void)DeleteBelow(plan_.facts.downloadFolder, item.download.target);
        Prerequisite& p = (*list_)[item.index];
        p.AlreadyDownloaded = false;
        p.FileAtTarget = false;
        p.Action = kActionDownload;
        replaced_[item.index] = true;
        changed = true;
    }
    if (changed) Replan();
}

void PrerequisiteEngine::SkipFrom(int first, WorkKind kind) {
    for (int i = first; i < plan_.items.Size(); ++i) {
        const PlannedItem& item = plan_.items[i];
        // An item that has met its end already (a download that failed) is
        // not skipped a second time.
        bool told = false;
        for (const WorkItemOutcome& entry : outcome_.items)
            told = told || (entry.prerequisite == item.index && (entry.kind == kind || entry.result != WorkResult::Done));
        if (told) continue;
        const bool counts = kind == WorkKind::Download ? item.action == kActionDownload
                            : kind == WorkKind::OpenSite ? item.opensSite
                                                         : (item.launches && (item.action == kActionInstall ||
                                                                              item.action == kActionDownloaded ||
                                                                              item.action == kActionDownload));
        if (!counts) continue;
        if (kind == WorkKind::Download) Log(u"Download skipped, the download phase has stopped:", item.name);
        Record(item, kind, WorkResult::Skipped);
    }
}

bool PrerequisiteEngine::DownloadAll(TransferObserver* observer) {
    downloadsRan_ = true;
    Replan();
    HoldFoundFiles(observer);
    int count = 0;
    for (const PlannedItem& item : plan_.items) count += item.action == kActionDownload;
    if (!count) return true;
    if (observer) observer->SetItemCount(static_cast<uint64_t>(count), 0);
    const WString format = list_->GetPhaseText(kPhaseDownloading);
    for (int i = 0; i < plan_.items.Size(); ++i) {
        const PlannedItem& item = plan_.items[i];
        if (item.action != kActionDownload) continue;
        if (observer && observer->IsCancelled()) {
            if (LoggingEnabled) LogLine(u"Download was canceled.");
            outcome_.cancelled = true;
            SkipFrom(i, WorkKind::Download);
            return false;
        }
        if (observer) observer->SetStatusText(Format(format.c_str(), item.name), kStatusNewItem, 0);
        Log(u"Starting download of:", item.name);
        if (item.download.targetMoved)
            Log(u"Download target shared with an earlier prerequisite, moved to:", item.download.target);
        const ResultCode code = FetchVerified(item, observer);
        if (code == E_DL_FILE_REJECTED) {
            if (LoggingEnabled) {
                LogLine(u"Downloaded file was rejected.(Invalid size or MD5).");
                LogLine(u"Downloaded file was rejected. Error:" + SystemMessageText(E_DL_FILE_REJECTED));
            }
            Record(item, WorkKind::Download, WorkResult::Failed, code);
            if (observer) observer->OnError(WString(), E_DL_FILE_REJECTED, nullptr);
            SkipFrom(i + 1, WorkKind::Download);
            return false;
        }
        if (code != kResultOk) {
            if (LoggingEnabled) LogLine(u"Download failed. Error:" + SystemMessageText(code));
            Record(item, WorkKind::Download, code == E_DL_CANCELLED ? WorkResult::Skipped : WorkResult::Failed, code);
            if (code == E_DL_CANCELLED) outcome_.cancelled = true;
            if (item.mandatory) {
                if (observer) observer->OnError(item.name, E_DL_MANDATORY_FAILED, nullptr);
                SkipFrom(i + 1, WorkKind::Download);
                return false;
            }
            continue;
        }
        if (LoggingEnabled) LogLine(u"Downloaded file was accepted.");
        Prerequisite& p = (*list_)[item.index];
        p.AlreadyDownloaded = true;
        p.FileAtTarget = true;
        Record(item, WorkKind::Download, WorkResult::Done);
    }
    return true;
}

bool PrerequisiteEngine::HoldForLaunch(const LaunchItem& item, TransferObserver* observer) {
    VerifiedFile& hold = held_[item.PrerequisiteIndex];
    if (hold.IsOpen() && hold.Path() == item.FilePath) return true;  // checked when it was taken
    hold.Close();
    const ExpectedFile& expected = plan_.items[item.PrerequisiteIndex].download.expected;
    if (hold.Open(item.FilePath) && hold.Judge(expected, observer) == Verdict::Accepted) return true;
    hold.Close();
    // A missing file without checks goes on to the launch, which fails and
    // logs why; anything else is never launched.
    return !expected.HasCheck() && !FileExists(item.FilePath);
}

bool PrerequisiteEngine::EnsureProtectedFolder() {
    if (protected_.IsCreated()) return true;
    const ResultCode code =
        protected_.Create(ProtectedFolderParent(), ProtectedFolderBaseName(list_->options.DefaultProdCode));
    if (code != kResultOk) {
        if (LoggingEnabled) LogLine(u"Protected working folder could not be created. Error:" + SystemMessageText(code));
        return false;
    }
    Log(u"Setups are launched from the protected folder:", protected_.Path());
    return true;
}

bool PrerequisiteEngine::MoveToProtectedFolder(int launchIndex, bool* moved, TransferObserver* observer) {
    *moved = false;
    const LaunchItem& item = launcher_.Item(launchIndex);
    const PlannedItem& planned = plan_.items[item.PrerequisiteIndex];
    if (!planned.launch.fromProtectedFolder) return true;
    if (!EnsureProtectedFolder()) return false;
    const WString& source = item.FilePath;
    const WString copyPath = protected_.Path() + source.Mid(source.FindLastChar(u'\\') + 1);
    VerifiedFile& hold = held_[item.PrerequisiteIndex];
    if (hold.IsMovable()) {
        // Written under the protected descriptor and held since: moved, not
        // copied (a rename on the same volume).
        if (hold.MoveTo(copyPath) == kResultOk || hold.Path() == copyPath) {
            *moved = true;
            launcher_.SetFilePath(launchIndex, copyPath);
            return true;
        }
    }
    VerifiedFile copy;
    const Verdict verdict = hold.CopyCheckedTo(copyPath, planned.download.expected, &copy, observer);
    if (verdict != Verdict::Accepted) {
        if (verdict != Verdict::Cancelled) Log(u"File was rejected before its launch.(Invalid size or checksum):", copyPath);
        return false;
    }
    hold = static_cast<VerifiedFile&&>(copy);
    launcher_.SetFilePath(launchIndex, copyPath);
    return true;
}

void PrerequisiteEngine::PrepareInstalls() {
    launcher_.Clear();
    Replan();
    for (const PlannedItem& planned : plan_.items) {
        if (!planned.launches || (planned.action != kActionInstall && planned.action != kActionDownloaded)) continue;
        LaunchItem item;
        item.FilePath = planned.launch.file;
        item.CommandLine = planned.launch.arguments;
        item.Method = planned.launch.method;
        item.Reboot = planned.launch.reboot;
        item.Codes = planned.launch.codes;
        item.Name = planned.name;
        item.RetValPropName = planned.launch.retValPropName;
        item.PrerequisiteIndex = planned.index;
        launcher_.Add(item);
    }
}

bool PrerequisiteEngine::InstallAll(TransferObserver* observer) {
    installsRan_ = true;
    PrepareInstalls();
    const int count = launcher_.Count();
    if (observer) observer->SetItemCount(static_cast<uint64_t>(count), 0);
    const WString format = list_->GetPhaseText(kPhaseInstalling);
    ObserverRetryWaiter waiter(observer);
    for (int i = 0; i < count; ++i) {
        const LaunchItem& item = launcher_.Item(i);
        const PlannedItem& planned = plan_.items[item.PrerequisiteIndex];
        if (ShutdownInProgress) return true;
        if (observer && observer->IsCancelled()) {
            outcome_.cancelled = true;
            for (int j = i; j < count; ++j) Record(plan_.items[launcher_.Item(j).PrerequisiteIndex], WorkKind::Install, WorkResult::Skipped);
            return false;
        }
        if (observer) observer->SetStatusText(Format(format.c_str(), item.Name), kStatusNewItem, 0);
        InstallOutcome outcome = kInstallFailed;
        const WString source = item.FilePath;
        bool moved = false;
        bool launched = false;
        const bool held = HoldForLaunch(item, observer);
        const bool ready = held && MoveToProtectedFolder(i, &moved, observer);
        if (!ready && observer && observer->IsCancelled()) {
            // Cancelled while the file was read: nothing is launched.
            held_[item.PrerequisiteIndex].Close();
            outcome_.cancelled = true;
            for (int j = i; j < count; ++j) Record(plan_.items[launcher_.Item(j).PrerequisiteIndex], WorkKind::Install, WorkResult::Skipped);
            return false;
        }
        if (!held) {
            Log(u"File was rejected before its launch.(Invalid size or checksum):", item.FilePath);
            launcher_.SetNotLaunched(i, FileExists(item.FilePath) ? E_DL_FILE_REJECTED : ERROR_FILE_NOT_FOUND);
        } else if (ready) {
            launched = true;
            outcome = launcher_.Install(i, observer == nullptr, &waiter);
        }
        held_[item.PrerequisiteIndex].Close();
        const WString& used = launcher_.Item(i).FilePath;
        if (!(used == source)) {
            // A moved file the run keeps goes back where it was downloaded
            // to; anything else launched from the protected folder goes.
            const WString name = used.Mid(used.FindLastChar(u'\\') + 1);
            if (!moved || !plan_.KeepsDownloads() ||
                MoveEntryBelow(protected_.Folder(), name, plan_.facts.downloadFolder, source) != kResultOk)
                (void)protected_.Folder().DeleteEntry(name);
        }
        const uint32_t code = launcher_.Item(i).ReturnCode;
        Record(planned, WorkKind::Install, outcome == kInstallFailed ? WorkResult::Failed : WorkResult::Done, code,
               launched);
        switch (outcome) {
            case kInstallFailed:
                if (planned.mandatory) {
                    if (observer) observer->OnError(item.Name, E_DL_MANDATORY_FAILED, nullptr);
                    for (int j = i + 1; j < count; ++j)
                        Record(plan_.items[launcher_.Item(j).PrerequisiteIndex], WorkKind::Install, WorkResult::Skipped);
                    return false;
                }
                break;
            case kRebootStarted:
            case kRestartedBySetup:
                // Nothing more is started before the restart.
                if (observer) observer->OnError(item.Name, E_REBOOT_STARTED, nullptr);
                for (int j = i + 1; j < count; ++j)
                    Record(plan_.items[launcher_.Item(j).PrerequisiteIndex], WorkKind::Install, WorkResult::Skipped);
                return false;
            case kInstalled:
                break;
        }
    }
    // A restart that a return code asked for after the whole chain.
    if (launcher_.FinishChain(observer == nullptr)) {
        if (observer) observer->OnError(launcher_.Item(count - 1).Name, E_REBOOT_STARTED, nullptr);
        return false;
    }
    return true;
}

void PrerequisiteEngine::SkipRemaining() {
    if (!downloadsRan_) SkipFrom(0, WorkKind::Download);
    if (!sitesRan_) SkipFrom(0, WorkKind::OpenSite);
    if (!installsRan_) SkipFrom(0, WorkKind::Install);
    downloadsRan_ = sitesRan_ = installsRan_ = true;
}

void PrerequisiteEngine::Reevaluate() {
    list_->ReevaluateAll();
    Replan();
    // A setup that went through and yet left its prerequisite missing.
    for (WorkItemOutcome& entry : outcome_.items) {
        if (entry.kind != WorkKind::Install || entry.result != WorkResult::Done || entry.prerequisite < 0) continue;
        const int32_t action = plan_.items[entry.prerequisite].action;
        if (action != kActionPresent && action != kActionNotSelected) entry.result = WorkResult::StillMissing;
    }
}

bool PrerequisiteEngine::CheckMandatory() {
    for (const PlannedItem& item : plan_.items) {
        if (!item.mandatory || item.exempt) continue;
        if (item.action != kActionPresent && item.action != kActionNotSelected) return false;
    }
    return true;
}

bool PrerequisiteEngine::IsPresent(int index) {
    list_->EvaluatePrerequisite(index, true);
    list_->RefreshFileAtTarget(index);
    return (*list_)[index].Action == kActionPresent;
}

RunOutcome RunWork(PrerequisiteEngine& engine, TransferObserver* observer, bool stopAfterFailedPhase) {
    HRESULT com = CoInitialize(nullptr);
    const bool cancelled = observer && observer->IsCancelled();
    bool through = !cancelled && engine.DownloadAll(observer);
    if (through || (!stopAfterFailedPhase && !(observer && observer->IsCancelled()))) {
        const bool sitesOpen = !(observer && observer->IsCancelled());
        if (sitesOpen) engine.OpenSites(observer);
        if (!(observer && observer->IsCancelled())) through = engine.InstallAll(observer) && through;
        else through = false;
    }
    RunOutcome& outcome = engine.Outcome();
    if (observer && observer->IsCancelled()) outcome.cancelled = true;
    engine.SkipRemaining();
    outcome.rebootPending = (engine.RebootStarted() && !engine.RebootDeclined()) || engine.RebootPending() ||
                            engine.ShutdownInProgress;
    if (!engine.RebootStarted() && !engine.RebootPending()) {
        engine.Reevaluate();
        outcome.mandatoryMissing = !engine.CheckMandatory();
    }
    if (through && !outcome.cancelled && observer) observer->OnFinished(kFinishedSequence, 0);
    if (SUCCEEDED(com)) CoUninitialize();
    return outcome;
}

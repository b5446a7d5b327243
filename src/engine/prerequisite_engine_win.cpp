#include "engine/prerequisite_engine_win.h"

#include <objbase.h>

#include "config/interboot_store_win.h"
#include "config/package_locator.h"
#include "config/prerequisite.h"
#include "config/target_path.h"
#include "download/file_transfer_win.h"
#include "config/file_url.h"
#include "download/result_codes.h"
#include "log/log.h"
#include "platform/fileops_win.h"
#include "platform/path_rules.h"
#include "platform/references_win.h"
#include "platform/win_util.h"

namespace {

constexpr uint32_t kInstallUserExit = 1602;  // ERROR_INSTALL_USEREXIT
constexpr uint32_t kInstallFailure = 1603;   // ERROR_INSTALL_FAILURE

void Log(const char16_t* prefix, const WString& value) {
    if (LoggingEnabled) LogLine(prefix + value);
}

// The transfer judges the bytes as it writes them and refuses a part file
// that fails before its rename; an https URL that lands on http is followed
// only when a digest or a publisher check judges the bytes.
void ConfigureTransferChecks(FileTransfer& transfer, const Prerequisite& prerequisite) {
    const ExpectedFile expected = ExpectedFileOf(prerequisite);
    transfer.SetExpected(expected);
    transfer.SetVerifiable(expected.JudgesBytes());
}

// The protected folder is named after DefaultProdCode when that is a plain
// file name.
WString ProtectedFolderBaseName(const WString& productCode) {
    if (productCode.IsEmpty() || productCode.FindFirstOf(u"\\/:*?\"<>|") >= 0 || productCode.Trimmed().IsEmpty() ||
        productCode == u"." || productCode == u"..")
        return WString(u"Corvane");
    return productCode;
}

}  // namespace

PrerequisiteEngine::PrerequisiteEngine(InterbootStore* store, PrerequisiteList* list, PackageLocator* locator,
                                       StatusWindow* statusWindow, LaunchPlatform* platform)
    : statusWindow_(statusWindow),
      list_(list),
      locator_(locator),
      launcher_(store, this, platform),
      platform_(platform ? platform : &SystemLaunchPlatform()) {
    queue_.downloadFolder = list_->ResolvedDownloadFolder();
    if (!queue_.downloadFolder.IsEmpty() && !queue_.downloadFolder.EndsWith(u"\\"))
        queue_.downloadFolder.Append(u'\\');
    queue_.credentials = &TheCredentialStore();
}

PrerequisiteEngine::~PrerequisiteEngine() {
    launcher_.Clear();
    held_.Clear();  // a held file cannot be deleted
    // By handles, the folders held from the download folder down: a link
    // put on the way is never followed.
    for (const WString& file : queue_.filesToDelete) (void)DeleteBelow(queue_.downloadFolder, file);
    for (int i = queue_.foldersCreated.Size() - 1; i >= 0; --i)
        (void)RemoveFolderBelow(queue_.downloadFolder, queue_.foldersCreated[i]);
}

void PrerequisiteEngine::ComputeTargets(Array<bool>* moved) {
    Array<WString> targets = DownloadTargets(list_->items, queue_.downloadFolder, moved);
    targets_.Clear();
    for (const WString& target : targets) targets_.Add(target.IsEmpty() ? target : AddLongPrefixForStorage(target));
    while (held_.Size() < list_->Count()) held_.Add(VerifiedFile());
    while (replaced_.Size() < list_->Count()) replaced_.Add(false);
}

void PrerequisiteEngine::RunTask(DownloadTask& task, bool keep, VerifiedFile* hold, Verdict* verdict) {
    FileTransfer transfer(queue_.observer, queue_.credentials);
    task.TargetPath = targets_[task.PrerequisiteIndex];
    if (!keep) {
        bool listed = false;
        for (const WString& file : queue_.filesToDelete) listed = listed || file == task.TargetPath;
        if (!listed) queue_.filesToDelete.Add(task.TargetPath);
    }
    // A folder that cannot be made shows as the transfer's failure.
    (void)CreateDirectoryTree(task.TargetPath, false, &queue_.foldersCreated);
    ConfigureTransferChecks(transfer, (*list_)[task.PrerequisiteIndex]);
    transfer.SetProtectWhileWriting(platform_->IsElevated());
    queue_.lastResult = transfer.Download(task.Url, task.TargetPath);
    if (queue_.lastResult != 0) return;
    task.Status = 0;
    if (LoggingEnabled) LogLine(u"Download completed succesfully.");
    // Taken once the transfer has closed its last write handle: from here
    // to the launch nobody can change the file. The transfer's verdict
    // stands only for the very file it wrote under the protected
    // descriptor; anything else is judged from the hold.
    *verdict = transfer.HandOver(hold);
}

ResultCode PrerequisiteEngine::FetchVerified(DownloadTask& task, bool keep, const Prerequisite& prerequisite) {
    VerifiedFile& hold = held_[task.PrerequisiteIndex];
    for (int attempt = 0; attempt < task.Attempts; ++attempt) {
        if (attempt > 0) Log(u"Downloading once more:", prerequisite.Name);
        task.Status = 4;
        Verdict verdict = Verdict::Unreadable;
        RunTask(task, keep, &hold, &verdict);
        if (task.Status != 0 && queue_.lastResult != E_DL_FILE_REJECTED) return queue_.lastResult;
        if (task.Status == 0 && verdict == Verdict::Cancelled) {
            // Cancelled while the hold read the file: it stays unjudged.
            hold.Close();
            queue_.lastResult = E_DL_CANCELLED;
            return E_DL_CANCELLED;
        }
        if (task.Status == 0) {
            if (verdict == Verdict::Accepted) return 0;
            hold.Close();
            (void)DeleteBelow(queue_.downloadFolder, task.TargetPath);
        }
        Log(u"Downloaded file failed its check and was deleted:", task.TargetPath);
    }
    queue_.lastResult = E_DL_FILE_REJECTED;
    return E_DL_FILE_REJECTED;
}

void PrerequisiteEngine::HoldFoundFiles() {
    for (int i = 0; i < list_->Count(); ++i) {
        Prerequisite& p = (*list_)[i];
        if (list_->GetAction(i) != kActionDownloaded || IsLocalFileUrl(p.Location)) continue;
        VerifiedFile& hold = held_[i];
        const Verdict verdict = hold.Open(targets_[i]) ? hold.Judge(ExpectedFileOf(p), queue_.observer) : Verdict::Unreadable;
        if (verdict == Verdict::Accepted) continue;
        hold.Close();
        if (verdict == Verdict::Cancelled) return;  // the download phase sees the cancellation next
        Log(u"File found at the download target failed its check and is downloaded afresh:", targets_[i]);
        (void)DeleteBelow(queue_.downloadFolder, targets_[i]);
        p.AlreadyDownloaded = false;
        p.Action = kActionDownload;
        replaced_[i] = true;
    }
}

void PrerequisiteEngine::LogSkipped(int first) {
    for (int i = first; i < queue_.tasks.Size(); ++i)
        Log(u"Download skipped, the download phase has stopped:", (*list_)[queue_.tasks[i].PrerequisiteIndex].Name);
}

ResultCode PrerequisiteEngine::DownloadAll(TransferObserver* observer) {
    queue_.tasks.Clear();
    queue_.filesToDelete.Clear();
    queue_.observer = observer;
    Array<bool> moved;
    ComputeTargets(&moved);
    for (bool& replaced : replaced_) replaced = false;
    HoldFoundFiles();
    for (int i = 0; i < list_->Count(); ++i) {
        if (list_->GetAction(i) != kActionDownload) continue;
        const Prerequisite& p = (*list_)[i];
        DownloadTask task;
        task.Url = p.Location;
        task.Folder = p.Folder;
        task.PrerequisiteIndex = i;
        task.Status = 4;
        if (replaced_[i]) task.Attempts = 1;
        queue_.tasks.Add(task);
    }
    if (queue_.tasks.IsEmpty()) return 0;
    if (observer) observer->SetItemCount(static_cast<uint64_t>(queue_.tasks.Size()), 0);
    const bool keep = list_->options.KeepFiles == 2 || list_->options.KeepFiles == 5;
    for (int t = 0; t < queue_.tasks.Size(); ++t) {
        DownloadTask& task = queue_.tasks[t];
        Prerequisite& p = (*list_)[task.PrerequisiteIndex];
        if (observer && observer->IsCancelled()) {
            if (LoggingEnabled) LogLine(u"Download was canceled.");
            return 0;
        }
        if (observer) observer->SetStatusText(Format(list_->GetPhaseText(1).c_str(), p.Name), kStatusNewItem, 0);
        Log(u"Starting download of:", p.Name);
        if (moved[task.PrerequisiteIndex])
            Log(u"Download target shared with an earlier prerequisite, moved to:", targets_[task.PrerequisiteIndex]);
        const ResultCode code = FetchVerified(task, keep, p);
        if (code == E_DL_FILE_REJECTED) {
            if (LoggingEnabled) {
                LogLine(u"Downloaded file was rejected.(Invalid size or MD5).");
                LogLine(u"Downloaded file was rejected. Error:" + SystemMessageText(E_DL_FILE_REJECTED));
            }
            if (observer) observer->OnError(WString(), E_DL_FILE_REJECTED, nullptr);
            LogSkipped(t + 1);
            return kInstallFailure;
        }
        if (code != 0) {
            if (LoggingEnabled) LogLine(u"Download failed. Error:" + SystemMessageText(queue_.lastResult));
            if (p.HasOption(u'm')) {
                if (observer) observer->OnError(p.Name, E_DL_MANDATORY_FAILED, nullptr);
                LogSkipped(t + 1);
                return kInstallFailure;
            }
            continue;
        }
        if (LoggingEnabled) LogLine(u"Downloaded file was accepted.");
        p.AlreadyDownloaded = true;
    }
    return 0;
}

bool PrerequisiteEngine::HoldForLaunch(const LaunchItem& item) {
    while (held_.Size() < list_->Count()) held_.Add(VerifiedFile());
    VerifiedFile& hold = held_[item.PrerequisiteIndex];
    if (hold.IsOpen() && hold.Path() == item.FilePath) return true;  // checked when it was taken
    hold.Close();
    const Prerequisite& p = (*list_)[item.PrerequisiteIndex];
    if (hold.Open(item.FilePath) && hold.Judge(ExpectedFileOf(p), queue_.observer) == Verdict::Accepted) return true;
    hold.Close();
    // A missing file without checks goes on to the launch, which fails and
    // logs why; anything else is never launched.
    return !ExpectedFileOf(p).HasCheck() && !FileExists(item.FilePath);
}

bool PrerequisiteEngine::EnsureProtectedFolder() {
    if (protected_.IsCreated()) return true;
    const ResultCode code = protected_.Create(ProtectedFolderParent(), ProtectedFolderBaseName(list_->options.DefaultProdCode));
    if (code != kResultOk) {
        if (LoggingEnabled) LogLine(u"Protected working folder could not be created. Error:" + SystemMessageText(code));
        return false;
    }
    Log(u"Setups are launched from the protected folder:", protected_.Path());
    return true;
}

bool PrerequisiteEngine::MoveToProtectedFolder(int launchIndex, bool* moved) {
    *moved = false;
    const LaunchItem& item = launcher_.Item(launchIndex);
    const Prerequisite& p = (*list_)[item.PrerequisiteIndex];
    if (list_->GetAction(item.PrerequisiteIndex) != kActionDownloaded || IsLocalFileUrl(p.Location)) return true;
    if (!platform_->IsElevated()) return true;
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
    const Verdict verdict = hold.CopyCheckedTo(copyPath, ExpectedFileOf(p), &copy, queue_.observer);
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
    Array<bool> moved;
    ComputeTargets(&moved);
    for (int i = 0; i < list_->Count(); ++i) {
        const Prerequisite& p = (*list_)[i];
        int32_t action = list_->GetAction(i);
        if (action != kActionInstall && action != kActionDownloaded) continue;
        LaunchItem item;
        WString commandLine = ChooseCommandLine(list_->options.Options, p);
        if (action == kActionInstall) {
            int32_t entry = -1;
            item.FilePath = locator_->Locate(p.Location, &entry);
            item.CommandLine = commandLine;
        } else {
            item.FilePath = IsLocalFileUrl(p.Location) ? LocalPathOfFileUrl(p.Location) : targets_[i];
            item.CommandLine = ExpandFolderProperties(commandLine, false);
        }
        item.Name = p.Name;
        item.RebootMode = RebootModeFromOptions(p.Options);
        item.RetValPropName = p.RetValPropName;
        item.PrerequisiteIndex = i;
        launcher_.Add(item);
    }
}

ResultCode PrerequisiteEngine::InstallAll(TransferObserver* observer) {
    PrepareInstalls();
    const bool keep = list_->options.KeepFiles == 2 || list_->options.KeepFiles == 5;
    const int count = launcher_.Count();
    if (observer) observer->SetItemCount(static_cast<uint64_t>(count), 0);
    // The holds' reads see a cancellation through it.
    queue_.observer = observer;
    for (int i = 0; i < count; ++i) {
        if (ShutdownInProgress) return 0;
        if (observer && observer->IsCancelled()) return kInstallUserExit;
        const LaunchItem& item = launcher_.Item(i);
        if (observer) observer->SetStatusText(Format(list_->GetPhaseText(2).c_str(), item.Name), kStatusNewItem, 0);
        InstallOutcome outcome = kInstallFailed;
        const WString source = item.FilePath;
        bool moved = false;
        const bool held = HoldForLaunch(item);
        const bool ready = held && MoveToProtectedFolder(i, &moved);
        if (!ready && observer && observer->IsCancelled()) {
            // Cancelled while the file was read: nothing is launched.
            held_[item.PrerequisiteIndex].Close();
            return kInstallUserExit;
        }
        if (!held) {
            Log(u"File was rejected before its launch.(Invalid size or checksum):", item.FilePath);
            launcher_.SetNotLaunched(i, FileExists(item.FilePath) ? E_DL_FILE_REJECTED : ERROR_FILE_NOT_FOUND);
        } else if (ready) {
            outcome = launcher_.Install(i, observer == nullptr);
        }
        held_[item.PrerequisiteIndex].Close();
        const WString& launched = launcher_.Item(i).FilePath;
        if (!(launched == source)) {
            // A moved file the run keeps goes back where it was downloaded
            // to; anything else launched from the protected folder goes.
            const WString name = launched.Mid(launched.FindLastChar(u'\\') + 1);
            if (!moved || !keep || MoveEntryBelow(protected_.Folder(), name, queue_.downloadFolder, source) != kResultOk)
                (void)protected_.Folder().DeleteEntry(name);
        }
        switch (outcome) {
            case kInstallFailed:
                if ((*list_)[item.PrerequisiteIndex].HasOption(u'm')) {
                    if (observer) observer->OnError(item.Name, E_DL_MANDATORY_FAILED, nullptr);
                    return kInstallFailure;
                }
                break;
            case kRebootStarted:
                if (observer) observer->OnError(item.Name, E_REBOOT_STARTED, nullptr);
                return kInstallFailure;
            case kInstalled:
                break;
        }
    }
    return 0;
}

void PrerequisiteEngine::Reevaluate() { list_->ReevaluateAll(); }

bool PrerequisiteEngine::CheckMandatory() {
    for (int i = 0; i < list_->Count(); ++i) {
        const Prerequisite& p = (*list_)[i];
        if (!p.HasOption(u'm') || p.HasOption(u'i')) continue;
        int32_t action = list_->GetAction(i);
        if (action != kActionPresent && action != kActionNotSelected) return false;
    }
    return true;
}

bool PrerequisiteEngine::IsPresent(int index) {
    list_->EvaluatePrerequisite(index, true);
    Prerequisite& p = (*list_)[index];
    if (p.Action == kActionDownload) p.AlreadyDownloaded = list_->IsAlreadyDownloaded(p);
    return p.Action == kActionPresent;
}

ResultCode PrerequisiteEngine::RunSequence(TransferObserver* observer) {
    HRESULT com = CoInitialize(nullptr);
    if (DownloadAll(observer) == 0 && !(observer && observer->IsCancelled())) {
        OpenSites(observer);
        if (!(observer && observer->IsCancelled()) && InstallAll(observer) == 0 && observer)
            observer->OnFinished(kFinishedSequence, 0);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

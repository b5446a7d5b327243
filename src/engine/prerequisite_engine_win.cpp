#include "engine/prerequisite_engine_win.h"

#include <objbase.h>

#include "config/interboot_store_win.h"
#include "config/package_locator.h"
#include "config/prerequisite.h"
#include "config/target_path.h"
#include "download/file_transfer_win.h"
#include "config/file_url.h"
#include "download/integrity_win.h"
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

}  // namespace

PrerequisiteEngine::PrerequisiteEngine(InterbootStore* store, PrerequisiteList* list, PackageLocator* locator,
                                       StatusWindow* statusWindow, LaunchPlatform* platform)
    : statusWindow_(statusWindow), list_(list), locator_(locator), launcher_(store, this, platform) {
    queue_.downloadFolder = list_->ResolvedDownloadFolder();
    if (!queue_.downloadFolder.IsEmpty() && !queue_.downloadFolder.EndsWith(u"\\"))
        queue_.downloadFolder.Append(u'\\');
    queue_.credentials = &TheCredentialStore();
}

PrerequisiteEngine::~PrerequisiteEngine() {
    launcher_.Clear();
    for (const WString& file : queue_.filesToDelete) DeleteFileLong(file);
    for (int i = queue_.foldersCreated.Size() - 1; i >= 0; --i) RemoveDirectoryLong(queue_.foldersCreated[i]);
}

WString PrerequisiteEngine::TargetPathOf(const Prerequisite& prerequisite) const {
    return AddLongPrefixForStorage(
        DownloadTargetPath(queue_.downloadFolder, prerequisite.Location, prerequisite.Folder));
}

void PrerequisiteEngine::RunTask(DownloadTask& task, bool keep) {
    FileTransfer transfer(queue_.observer, queue_.credentials);
    task.TargetPath = TargetPathOf((*list_)[task.PrerequisiteIndex]);
    if (!keep) queue_.filesToDelete.Add(task.TargetPath);
    // A folder that cannot be made shows as the transfer's failure.
    (void)CreateDirectoryTree(task.TargetPath, false, &queue_.foldersCreated);
    if (task.ExactSize) transfer.SetExpectedSize(task.ExactSize);
    queue_.lastResult = transfer.Download(task.Url, task.TargetPath);
    if (queue_.lastResult == 0) task.Status = 0;
}

ResultCode PrerequisiteEngine::DownloadAll(TransferObserver* observer) {
    queue_.tasks.Clear();
    queue_.filesToDelete.Clear();
    queue_.observer = observer;
    for (int i = 0; i < list_->Count(); ++i) {
        if (list_->GetAction(i) != kActionDownload) continue;
        const Prerequisite& p = (*list_)[i];
        DownloadTask task;
        task.Url = p.Location;
        task.ExactSize = static_cast<uint32_t>(p.ExactSize);
        task.Folder = p.Folder;
        task.PrerequisiteIndex = i;
        task.Status = 4;
        queue_.tasks.Add(task);
    }
    if (queue_.tasks.IsEmpty()) return 0;
    if (observer) observer->SetItemCount(static_cast<uint64_t>(queue_.tasks.Size()), 0);
    const bool keep = list_->options.KeepFiles == 2 || list_->options.KeepFiles == 5;
    for (DownloadTask& task : queue_.tasks) {
        Prerequisite& p = (*list_)[task.PrerequisiteIndex];
        if (observer && observer->IsCancelled()) {
            if (LoggingEnabled) LogLine(u"Download was canceled.");
            return 0;
        }
        if (observer) observer->SetStatusText(Format(list_->GetPhaseText(1).c_str(), p.Name), kStatusNewItem, 0);
        Log(u"Starting download of:", p.Name);
        RunTask(task, keep);
        if (task.Status != 0) {
            if (LoggingEnabled) LogLine(u"Download failed. Error:" + SystemMessageText(queue_.lastResult));
            if (p.HasOption(u'm')) {
                if (observer) observer->OnError(p.Name, E_DL_MANDATORY_FAILED, nullptr);
                return kInstallFailure;
            }
            continue;
        }
        if (LoggingEnabled) LogLine(u"Download completed succesfully.");
        if (!CheckDownloadedFile(p, task.TargetPath)) {
            if (LoggingEnabled) LogLine(u"Downloaded file was rejected.(Invalid size or MD5).");
            if (observer) observer->OnError(WString(), E_DL_FILE_REJECTED, nullptr);
            return kInstallFailure;
        }
        if (LoggingEnabled) LogLine(u"Downloaded file was accepted.");
        p.AlreadyDownloaded = true;
    }
    return 0;
}

void PrerequisiteEngine::PrepareInstalls() {
    launcher_.Clear();
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
            item.FilePath = IsLocalFileUrl(p.Location) ? LocalPathOfFileUrl(p.Location) : TargetPathOf(p);
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
    const int count = launcher_.Count();
    if (observer) observer->SetItemCount(static_cast<uint64_t>(count), 0);
    for (int i = 0; i < count; ++i) {
        if (ShutdownInProgress) return 0;
        if (observer && observer->IsCancelled()) return kInstallUserExit;
        const LaunchItem& item = launcher_.Item(i);
        if (observer) observer->SetStatusText(Format(list_->GetPhaseText(2).c_str(), item.Name), kStatusNewItem, 0);
        switch (launcher_.Install(i, observer == nullptr)) {
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

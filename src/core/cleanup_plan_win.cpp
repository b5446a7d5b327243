#include "core/cleanup_plan.h"

#include <windows.h>

#include "config/chainer_settings.h"
#include "core/cleanup_rules.h"
#include "install/package_launcher_win.h"
#include "install/script_runner_win.h"
#include "log/log.h"
#include "platform/fileops_win.h"
#include "platform/held_folder_win.h"

namespace {

bool ListedFileExists(const WString& path) { return FileExists(path); }

// Entries of a folder other than "." and ".."; 0 when it cannot be listed
// (a file, a missing path).
int CountEntries(const WString& folder) {
    int count = 0;
    FileFinder finder(folder + u"\\*");
    if (!finder.Found()) return 0;
    do {
        if (!finder.IsDots()) ++count;
    } while (finder.Next());
    return count;
}

bool IsDirectoryPath(const WString& path) {
    FileFinder finder(path);
    return finder.Found() && finder.IsDirectory();
}

}  // namespace

void CleanupPlan::Prepare(const IniDocument& document, const WString& iniPath, const WString& executablePath) {
    ChainerSettings settings;
    if (!LoadChainerSettings(document, &settings)) return;
    script_ = settings.CleanupScript;
    elevate_ = false;
    retryCount_ = 10;
    cleanupFolders_ = settings.CleanupFolders;

    CleanupInputs inputs;
    inputs.cleanupFiles = settings.CleanupFiles;
    inputs.cleanupFolders = settings.CleanupFolders;
    inputs.cleanupScript = settings.CleanupScript;
    inputs.iniPath = iniPath;
    inputs.executablePath = executablePath;
    BuildCleanupLists(inputs, ListedFileExists, &fileList_, &scriptPaths_);
}

void CleanupPlan::DeleteAndPrune() {
    // Every deletion goes by a handle on the entry itself, its folders held
    // from the root down: a link below the root is never followed out of it.
    const WString root = CanonicalCleanupPath(CleanupRoot(cleanupFolders_));
    for (const WString& file : fileList_) {
        const ResultCode deleted = DeleteBelow(root, file);
        if (deleted == kLinkRefused && LoggingEnabled) LogLine(u"Cleanup refused, a link is on the way to:" + file);
        Array<WString> folders = FoldersToPrune(file, root);
        for (const WString& folder : folders) (void)RemoveFolderBelow(root, folder);  // only empty folders go
    }

    // A folder that still holds more than the running executable is not handed
    // to the script; files always are.
    Array<WString> snapshot = scriptPaths_;
    for (const WString& path : snapshot) {
        int allowance = IsDirectoryPath(path) ? 1 : 0;
        if (CountEntries(path) <= allowance) continue;
        for (int i = scriptPaths_.Size() - 1; i >= 0; --i)
            if (scriptPaths_[i] == path) scriptPaths_.RemoveAt(i);
    }
}

void CleanupPlan::RunScript() {
    CleanupScriptRunner runner(scriptPaths_, script_, retryCount_, elevate_);
    runner.SetProtectedCopy(SystemLaunchPlatform().IsElevated());
    (void)runner.Run();
}

void CleanupPlan::ReleaseLists() {
    fileList_.Clear();
    scriptPaths_.Clear();
}

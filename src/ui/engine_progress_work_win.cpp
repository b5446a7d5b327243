#include "ui/engine_progress_work_win.h"

#include "config/prerequisite.h"
#include "download/result_codes.h"

ItemFailure EngineProgressWork::LastFailure() {
    ItemFailure failure;
    // The install phase stops at the failing setup, the last one launched
    // with a return code other than 0; the launch list is filled only when
    // the download phase went through.
    const PackageLauncher& launcher = engine_->Launcher();
    for (int i = launcher.Count() - 1; i >= 0; --i) {
        const LaunchItem& item = launcher.Item(i);
        if (item.ReturnCode == 0) continue;
        // A file rejected before its launch failed its check, not its setup.
        failure.setup = item.ReturnCode != E_DL_FILE_REJECTED;
        failure.code = item.ReturnCode;
        failure.name = item.Name;
        return failure;
    }
    // Otherwise the download phase stopped at the last task that ran (a task
    // gets its target path when it runs).
    const DownloadQueue& queue = engine_->Queue();
    failure.code = queue.lastResult;
    for (int i = queue.tasks.Size() - 1; i >= 0; --i) {
        if (queue.tasks[i].TargetPath.IsEmpty()) continue;
        failure.name = (*engine_->List())[queue.tasks[i].PrerequisiteIndex].Name;
        break;
    }
    return failure;
}

Array<PlannedWork> EngineProgressWork::Plan() {
    // What the engine will do with the decided actions: downloads in list
    // order, then web sites, then the setups (downloaded ones included).
    Array<PlannedWork> plan;
    PrerequisiteList& list = *engine_->List();
    const WorkKind phases[] = {WorkKind::Download, WorkKind::OpenSite, WorkKind::Install};
    for (WorkKind phase : phases) {
        for (int i = 0; i < list.Count(); ++i) {
            const int32_t action = list.GetAction(i);
            PlannedWork work;
            work.kind = phase;
            if (phase == WorkKind::Download && action == kActionDownload) {
                work.size = list[i].ExactSize > 0 ? static_cast<uint64_t>(list[i].ExactSize) : 0;
            } else if (phase == WorkKind::OpenSite && action == kActionOpenSite) {
            } else if (phase == WorkKind::Install &&
                       (action == kActionInstall || action == kActionDownload || action == kActionDownloaded)) {
            } else {
                continue;
            }
            plan.Add(work);
        }
    }
    return plan;
}

RunOutcome EngineProgressWork::Outcome() {
    // The engine's record of the run, once it keeps one; until then nothing
    // is summarised and the dialog ends as it did.
    return RunOutcome();
}

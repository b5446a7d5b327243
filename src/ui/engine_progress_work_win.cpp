#include "ui/engine_progress_work_win.h"

#include "download/result_codes.h"

ItemFailure EngineProgressWork::LastFailure() {
    // The item whose failure ended the work is the last one that failed.
    ItemFailure failure;
    const RunOutcome& outcome = engine_->Outcome();
    for (int i = outcome.items.Size() - 1; i >= 0; --i) {
        const WorkItemOutcome& item = outcome.items[i];
        if (item.result != WorkResult::Failed) continue;
        // A file rejected before its launch failed its check, not its setup.
        failure.setup = item.kind == WorkKind::Install && item.setupCode && item.code != E_DL_FILE_REJECTED;
        failure.code = item.code;
        failure.name = item.name;
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

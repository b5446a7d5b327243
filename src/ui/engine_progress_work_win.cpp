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
    // The run's own plan, in the phase order: downloads (weighed by their
    // expected size), then web sites, then the setups (downloads included).
    Array<PlannedWork> plan;
    const RunPlan& run = engine_->Plan();
    const WorkKind phases[] = {WorkKind::Download, WorkKind::OpenSite, WorkKind::Install};
    for (WorkKind phase : phases) {
        for (const PlannedItem& item : run.items) {
            PlannedWork work;
            work.kind = phase;
            if (phase == WorkKind::Download && item.action == kActionDownload)
                work.size = item.download.expected.size;
            else if (!(phase == WorkKind::OpenSite && item.opensSite) &&
                     !(phase == WorkKind::Install && item.launches))
                continue;
            plan.Add(work);
        }
    }
    return plan;
}

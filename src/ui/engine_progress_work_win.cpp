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

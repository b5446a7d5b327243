#include "core/main_flow_win.h"

#include <windows.h>

#include "base/resource_ids.h"
#include "config/interboot_store_win.h"
#include "config/prerequisite.h"
#include "engine/prerequisite_engine_win.h"
#include "log/log.h"
#include "platform/worker_thread_win.h"
#include "ui/engine_progress_work_win.h"
#include "ui/progress_dialog_win.h"
#include "ui/status_window_win.h"

namespace {

DWORD EvaluateAllThread(void* context) {
    static_cast<PrerequisiteList*>(context)->EvaluateAll();
    return 0;
}

const char16_t* BoolText(bool value) { return value ? u"true" : u"false"; }

// Evaluation: on a worker thread while the status window pumps messages, or
// on this thread in a silent run.
void Evaluate(PrerequisiteList& list, StatusWindow& statusWindow) {
    if (list.IsSilentMode()) {
        list.EvaluateAll();
        return;
    }
    statusWindow.Show(IDS_SEARCHING, false);
    WorkerThread worker;
    if (!worker.Start(EvaluateAllThread, &list)) return;
    WaitWithMessages(worker.Handle());
    worker.Wait();
}

bool AnyWork(const PrerequisiteList& list) {
    for (int i = 0; i < list.Count(); ++i) {
        int32_t action = list[i].Action;
        if (action == kActionInstall || action == kActionDownload || action == kActionOpenSite) return true;
    }
    return false;
}

int32_t DoWork(PrerequisiteList& list, PrerequisiteEngine& engine, StatusWindow& statusWindow) {
    if (list.IsSilentMode()) {
        if (LoggingEnabled) LogLine(u"Starting installing prerequisites in silent mode.");
        // A silent run goes on after a failure; the re-evaluation decides.
        return RunWork(engine, nullptr, false).mandatoryMissing ? 1 : 0;
    }
    if (!list.IsBasicUiMode()) return 0;
    if (LoggingEnabled) LogLine(u"Starting installing prerequisites in basic UI mode.");
    const WString& title = statusWindow.EnsureTitle();
    EngineProgressWork work(&engine);
    ProgressDialog dialog;
    (void)dialog.Run(title, &work, GetActiveWindow());
    if (work.Ran()) return work.Result().mandatoryMissing ? 1 : 0;
    // A dialog that could not be shown did nothing: it must not report
    // success while a mandatory prerequisite is missing.
    engine.Reevaluate();
    return engine.CheckMandatory() ? 0 : 1;
}

}  // namespace

int32_t RunMainFlow(PrerequisiteList& list, PackageLocator& locator, StatusWindow& statusWindow) {
    InterbootStore store("InterbootContext", true);
    if (list.Count() == 0) return 0;

    Evaluate(list, statusWindow);
    if (!AnyWork(list)) {
        if (LoggingEnabled) LogLine(u"No prerequisite must be installed.");
        return 0;
    }

    statusWindow.Hide();
    PrerequisiteEngine engine(&store, &list, &locator);
    int32_t result = DoWork(list, engine, statusWindow);

    // A return code that asks for a restart later, or tells that the setup
    // started one, leaves the restart pending whatever was asked.
    const bool required = engine.RebootStarted() || engine.RebootPending();
    const bool refused = engine.RebootDeclined() && !engine.RebootPending();
    const bool inProgress = engine.ShutdownInProgress;
    if (LoggingEnabled) {
        LogLine(WString(u"After running prerequisites we have:") + u"  Reboot was required=" + BoolText(required));
        if (required) LogLine(WString(u"  Reboot was refused=") + BoolText(refused));
        if (required && !refused) LogLine(WString(u"  Reboot in Progress=") + BoolText(inProgress));
    }
    // A restart the user declined is still needed: the run ends with -1 and
    // keeps its context for the run after the restart, as for one accepted.
    if (required || inProgress) {
        result = -1;
        store.SetDeleteOnClose(false);
    }
    return result;
}

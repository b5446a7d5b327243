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
    int32_t result = 0;
    if (list.IsSilentMode()) {
        if (LoggingEnabled) LogLine(u"Starting installing prerequisites in silent mode.");
        engine.SetSilent(true);
        engine.Prepare();
        // A silent run goes on after a failure; the re-evaluation decides.
        (void)engine.DownloadAll(nullptr);
        engine.OpenSites(nullptr);
        (void)engine.InstallAll(nullptr);
        if (!engine.RebootStarted()) {
            engine.Reevaluate();
            if (!engine.CheckMandatory()) result = 1;
        }
    } else if (list.IsBasicUiMode()) {
        if (LoggingEnabled) LogLine(u"Starting installing prerequisites in basic UI mode.");
        const WString& title = statusWindow.EnsureTitle();
        engine.Prepare();
        EngineProgressWork work(&engine);
        ProgressDialog dialog;
        INT_PTR answer = dialog.Run(title, &work, GetActiveWindow());
        if (answer == IDOK) {
            result = 0;
        } else if (answer == IDNO) {
            result = 1;
        } else if ((answer == IDCANCEL || answer == 0 || answer == -1) && !engine.RebootStarted()) {
            // A dialog closed with Cancel, or one that could not be created
            // (0 or -1), must not report success while a mandatory
            // prerequisite is missing: check as a silent run does.
            engine.Reevaluate();
            if (!engine.CheckMandatory()) result = 1;
        }
    }
    return result;
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
    PrerequisiteEngine engine(&store, &list, &locator, &statusWindow);
    int32_t result = DoWork(list, engine, statusWindow);

    const bool required = engine.RebootStarted();
    const bool refused = engine.RebootDeclined();
    const bool inProgress = engine.ShutdownInProgress;
    if (LoggingEnabled) {
        LogLine(WString(u"After running prerequisites we have:") + u"  Reboot was required=" + BoolText(required));
        if (required) LogLine(WString(u"  Reboot was refused=") + BoolText(refused));
        if (required && !refused) LogLine(WString(u"  Reboot in Progress=") + BoolText(inProgress));
    }
    if ((required && !refused) || inProgress) {
        result = -1;
        store.SetDeleteOnClose(false);
    }
    return result;
}

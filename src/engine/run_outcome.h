// What one run did with each prerequisite it had work for, in list order:
// the outcome that the progress dialog's texts, the exit code and the log
// read. Portable.
#pragma once

#include <stdint.h>

#include "base/array.h"
#include "base/wstr.h"

enum class WorkKind { Download, OpenSite, Install };

enum class WorkResult {
    Done,          // downloaded, opened, or its setup's return code meant success
    Failed,        // code tells why: a transfer's result code or a setup's return code
    Skipped,       // never started: a mandatory failure or a cancellation stopped the run before it
    StillMissing,  // its setup succeeded, yet the prerequisite is still missing afterwards
};

struct WorkItemOutcome {
    WString name;
    WorkKind kind = WorkKind::Install;
    WorkResult result = WorkResult::Done;
    // A transfer's result code (Download), or the setup's return code or
    // the reason it was never launched (Install).
    uint32_t code = 0;
    // code is a setup's return code rather than a result code of the chainer.
    bool setupCode = false;
    bool mandatory = false;
    int prerequisite = -1;  // its index in the list
};

struct RunOutcome {
    Array<WorkItemOutcome> items;
    bool cancelled = false;
    // A restart is pending (asked for and not declined, started by a setup,
    // or Windows is shutting down): the run ends with -1.
    bool rebootPending = false;
    // A mandatory prerequisite is still missing at the end: the run ends with 1.
    bool mandatoryMissing = false;

    // The run's exit code: -1, 1 or 0, in that order.
    int32_t ExitCode() const { return rebootPending ? -1 : mandatoryMissing ? 1 : 0; }
    // Some item failed, was skipped or is still missing.
    bool AnyTrouble() const {
        for (const WorkItemOutcome& item : items)
            if (item.result != WorkResult::Done) return true;
        return false;
    }
};

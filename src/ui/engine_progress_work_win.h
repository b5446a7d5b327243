// The download and install engine as the work of the progress dialog: the
// worker runs the engine's phases in the one order of RunWork, which also
// re-evaluates; the dialog reads what happened from the run's outcome.
#pragma once

#include "engine/prerequisite_engine_win.h"
#include "engine/run_outcome.h"
#include "ui/progress_dialog_win.h"

class EngineProgressWork : public ProgressWork {
public:
    explicit EngineProgressWork(PrerequisiteEngine* engine) : engine_(engine) {}
    ResultCode RunSequence(TransferObserver* observer) override {
        outcome_ = RunWork(*engine_, observer, true);
        ran_ = true;
        return 0;
    }
    // The work has re-evaluated before it reports its end; nothing is left
    // to do here.
    void Reevaluate() override {}
    bool CheckMandatory() override { return !engine_->Outcome().mandatoryMissing; }
    bool RebootStarted() const override { return engine_->RebootStarted(); }
    void SetShutdownInProgress() override { engine_->ShutdownInProgress = true; }
    ItemFailure LastFailure() override;
    // The run's plan as the bar weighs it.
    Array<PlannedWork> Plan() override;
    RunOutcome Outcome() override { return outcome_; }

    // After the worker has ended: whether the work ran at all, and its outcome.
    bool Ran() const { return ran_; }
    const RunOutcome& Result() const { return outcome_; }

private:
    PrerequisiteEngine* engine_;
    RunOutcome outcome_;
    bool ran_ = false;
};

// The download and install engine as the work of the progress dialog.
#pragma once

#include "engine/prerequisite_engine_win.h"
#include "ui/progress_dialog_win.h"

class EngineProgressWork : public ProgressWork {
public:
    explicit EngineProgressWork(PrerequisiteEngine* engine) : engine_(engine) {}
    ResultCode RunSequence(TransferObserver* observer) override { return engine_->RunSequence(observer); }
    void Reevaluate() override { engine_->Reevaluate(); }
    bool CheckMandatory() override { return engine_->CheckMandatory(); }
    bool RebootStarted() const override { return engine_->RebootStarted(); }
    void SetShutdownInProgress() override { engine_->ShutdownInProgress = true; }
    ItemFailure LastFailure() override;
    Array<PlannedWork> Plan() override;
    RunOutcome Outcome() override;

private:
    PrerequisiteEngine* engine_;
};

// The modal progress dialog of a basic-UI run: a status line (the item, its
// bytes), a detail line (item n of m, rate, time left), one bar for the whole
// run (ui/progress_model.h), and a Cancel button that asks first and reads
// Close once the work has ended with something to tell; at the end a summary
// of every item that was not done. A worker thread runs the work and reports
// through the dialog's TransferObserver face.
#pragma once

#include <windows.h>
#include <shobjidl.h>
#include <stdint.h>

#include "base/wstr.h"
#include "download/transfer_observer.h"
#include "platform/unique_handle_win.h"
#include "platform/worker_thread_win.h"
#include "ui/dialog_support_win.h"
#include "ui/progress_model.h"

// The item whose failure ended the work: a download with the transfer's
// result code, or a setup with its return code.
struct ItemFailure {
    bool setup = false;
    uint32_t code = 0;
    WString name;
};

// What the dialog drives. The download and install engine implements it (see
// ui/engine_progress_work_win.h); tests drive the dialog with scripted work.
class ProgressWork {
public:
    // The worker thread's body: downloads, web sites, installs; calls
    // OnFinished(0, 0) on the observer when everything went through.
    [[nodiscard]] virtual ResultCode RunSequence(TransferObserver* observer) = 0;
    virtual void Reevaluate() = 0;
    virtual bool CheckMandatory() = 0;
    virtual bool RebootStarted() const = 0;
    // Windows shuts down or logs off: the install loop stops before its next item.
    virtual void SetShutdownInProgress() = 0;
    // Asked on the worker thread when the work reports that it failed.
    virtual ItemFailure LastFailure() = 0;
    // The work the run is expected to do, in its order; asked once before
    // the worker starts.
    virtual Array<PlannedWork> Plan() = 0;
    // What the run did with each item; asked on the dialog's thread once
    // the worker has ended. Items not Done are summarised for the user.
    virtual RunOutcome Outcome() = 0;

protected:
    ~ProgressWork() {}
};

// The taskbar button's progress (Windows 7 and later); every failure is ignored.
class TaskbarProgress {
public:
    TaskbarProgress() {}
    ~TaskbarProgress() { Release(); }
    TaskbarProgress(const TaskbarProgress&) = delete;
    TaskbarProgress& operator=(const TaskbarProgress&) = delete;

    // Finds the top-level window above the dialog and creates the taskbar list.
    void Attach(HWND dialog);
    void SetValue(uint64_t done, uint64_t total);
    void SetState(TBPFLAG state);
    // Clears the state if the list was used and releases it.
    void Release();
    HWND TopLevelWindow() const { return window_; }

private:
    HWND window_ = nullptr;
    UniqueCom<ITaskbarList3> list_;
    bool used_ = false;
};

// The top-level window above a window: parents for child windows, owners otherwise.
HWND TopLevelWindowOf(HWND window);

class ProgressDialog : public TransferObserver {
public:
    // Dialog results.
    static constexpr INT_PTR kCompleted = IDOK;        // everything mandatory is present
    static constexpr INT_PTR kCancelled = IDCANCEL;    // cancelled, failed, or a reboot was started
    static constexpr INT_PTR kMandatoryMissing = IDNO; // a mandatory prerequisite is missing

    ProgressDialog() {}
    ~ProgressDialog() override;
    ProgressDialog(const ProgressDialog&) = delete;
    ProgressDialog& operator=(const ProgressDialog&) = delete;

    // Shows the dialog with the active window as owner, then waits for the
    // worker. Answers 1, 2 or 7; -1 when the dialog could not be shown.
    INT_PTR Run(const WString& title, ProgressWork* work);
    INT_PTR Run(const WString& title, ProgressWork* work, HWND owner);

    // The two halves of Run.
    INT_PTR ShowModal(const WString& title, ProgressWork* work, HWND owner);
    // Waits without limit for the worker; window messages sent to this
    // thread are still answered so that the worker can never block on it.
    void WaitForWorker();

    // TransferObserver; every operation may be called from the worker thread.
    void SetItemCount(uint64_t count, int reserved) override;
    void OnTransferStarted(int kind, uint64_t total, const WString& targetPath) override;
    void OnFinished(int scope, int reserved) override;
    void OnProgress(uint64_t bytes) override;
    bool IsCancelled() override { return cancelled_; }
    uint32_t OnError(const WString& context, uint32_t code, void* handle) override;
    void SetStatusText(const WString& text, int kind, int reserved) override;
    void OnWaiting(WaitReason reason, uint32_t attempt, uint32_t attempts) override;

    // What the worker last showed: the lines, the bar and what it is doing.
    struct Display {
        WString line;    // the item's text, or what the work waits for
        WString suffix;  // kept whole after the line: the download's bytes
        WString detail;  // item n of m, rate, time left
        int32_t position = 0;
        bool marquee = false;
        WorkKind kind = WorkKind::Download;
        WString name;    // the current item's name
    };

private:
    static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
    static DWORD WorkerMain(void* context);
    INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog(HWND window);
    HWND Bar() const;
    void UpdateTaskbar(bool isValue, TBPFLAG state, uint64_t done, uint64_t total);

    // Worker side: the display from the model, sent when it changed; the
    // detail line's rate and time left at most once a second.
    void Refresh(bool force);
    // The status line from any thread: one line, or (wrap) as many lines as
    // the text needs, the controls below moving down to make room.
    void SetLine(const WString& text, bool wrap);
    // The text of a failure that ends the work, from the code OnError got.
    WString FailureText(const WString& context, uint32_t code);

    // Dialog side.
    void ShowDisplay(HWND window, const Display& display);
    void LayOutWrapped(HWND window, const WString& text);
    // The work has ended with something to read: Close is the default
    // button and has the focus, so Enter closes.
    void OfferClose(HWND window, INT_PTR result);
    void AskCancel(HWND window);
    // The worker has ended: the summary, or the end of the dialog.
    void FinishRun(HWND window);
    bool ShowSummary(HWND window);
    // Moves the bar and the button below y and fits the dialog around them.
    void PlaceBelow(HWND window, int y, bool withBar);

    ProgressWork* work_ = nullptr;
    WString title_;
    volatile bool cancelled_ = false;
    WorkerThread worker_;

    // Worker thread only.
    ProgressModel model_;
    WString itemText_;
    WString itemName_;
    bool waiting_ = false;
    WString waitText_;
    // Where the current download comes from when it is not its first place
    // (a mirror's host); empty otherwise.
    WString sourceText_;
    bool failureShown_ = false;  // a failure ended the work: its text stays
    Display shown_;
    bool anyShown_ = false;
    DWORD detailAt_ = 0;
    DWORD bytesAt_ = 0;
    // The item texts' formats, to tell an item's kind and name.
    WString downloadFormat_, installFormat_, siteFormat_;

    // Written by the worker before it ends, read by the dialog after.
    volatile bool sequenceFinished_ = false;
    volatile INT_PTR finishedResult_ = kCompleted;

    // Dialog thread only.
    Display current_;
    bool errorState_ = false;
    bool ended_ = false;          // Close ends the dialog with endResult_
    INT_PTR endResult_ = kCancelled;
    bool questionOpen_ = false;
    bool workerEnded_ = false;
    bool failed_ = false;         // a failure or the reboot notice is shown

    TaskbarProgress taskbar_;
    HWND volatile window_ = nullptr;
    DialogIcons icons_;
};

// The modal progress dialog of a basic-UI run: a status line, a progress bar
// (items, and the bytes of the current download when its size is known), and
// a Cancel button that reads Close once the work has failed. A worker thread
// runs the work and reports through the dialog's TransferObserver face.
#pragma once

#include <windows.h>
#include <shobjidl.h>
#include <stdint.h>

#include "base/wstr.h"
#include "download/transfer_observer.h"
#include "platform/unique_handle_win.h"
#include "platform/worker_thread_win.h"
#include "ui/dialog_support_win.h"

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
    static constexpr INT_PTR kCancelled = IDCANCEL;    // cancelled, or a reboot was started
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

    int32_t StepCount() const { return stepCount_; }
    uint64_t ItemTotal() const { return itemTotal_; }

private:
    static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
    static DWORD WorkerMain(void* context);
    INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog(HWND window);
    HWND Bar() const;
    void UpdateTaskbar(bool isValue, TBPFLAG state, uint64_t done, uint64_t total);
    // The status line from any thread: one line that ends long texts with an
    // ellipsis, or (wrap) as many lines as the text needs, growing upwards
    // from the line's place into the free space above it.
    void SetLine(const WString& text, bool wrap);
    void LayOutLine(HWND window, const WString& text, bool wrap);
    // Bar and taskbar to a position of the range.
    void MoveBar(int32_t position);
    // The current item's text with its bytes and the bar; the controls are
    // touched only when the text (a tenth of the unit) or the bar moves, so
    // the worker never waits for the dialog more than a few thousand times
    // per item, and the last bytes before a pause are always shown.
    void ShowBytes();
    // The text of a failure that ends the work, from the code OnError got.
    WString FailureText(const WString& context, uint32_t code);
    // The work has ended with a failure: its text, the bar back to the items
    // done, and Close for the button.
    void ShowFailure(const WString& text);

    ProgressWork* work_ = nullptr;
    WString title_;
    volatile bool cancelled_ = false;
    WorkerThread worker_;
    int32_t stepCount_ = 0;
    uint64_t itemTotal_ = 0;
    // The current item as the worker reported it (worker thread only).
    WString itemText_;
    uint64_t bytesDone_ = 0;
    uint64_t bytesTotal_ = 0;
    int32_t barPosition_ = 0;
    WString lastBytesText_;
    TaskbarProgress taskbar_;
    HWND volatile window_ = nullptr;
    RECT lineRect_ = {0, 0, 0, 0};  // the status line's place in the template
    DialogIcons icons_;
};

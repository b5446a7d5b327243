#include "ui/progress_dialog_win.h"

#include <commctrl.h>

#include "base/resource_ids.h"
#include "log/log.h"
#include "platform/win_util.h"
#include "ui/progress_texts.h"

namespace {
// Posted by the worker at the end of the sequence; wParam is the result.
constexpr UINT kMsgFinished = WM_APP + 1;
// Sent by the worker so that the taskbar list is used on the thread that
// created it; lParam points at a TaskbarUpdate.
constexpr UINT kMsgTaskbar = WM_APP + 2;

// Sent by the worker to set the status line; wParam is 1 to wrap, lParam
// points at the text.
constexpr UINT kMsgSetLine = WM_APP + 3;

struct TaskbarUpdate {
    bool isValue;
    TBPFLAG state;
    uint64_t done;
    uint64_t total;
};

const CLSID kClsidTaskbarList = {0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
const IID kIidTaskbarList3 = {0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};

// Items of the range: a larger count is held at 65535, as the 16-bit range
// form held it.
int32_t RangeItems(uint64_t count) { return count > 0xFFFF ? 0xFFFF : static_cast<int32_t>(count); }

WString LoadFormat(UINT id, const WString& a) { return Format(LoadResourceString(id).c_str(), a); }
WString LoadFormat(UINT id, const WString& a, const WString& b) { return Format(LoadResourceString(id).c_str(), a, b); }

// A code in plain words: the text of the table, else the system's text, else
// "error <signed decimal>".
WString ReasonText(uint32_t code) {
    if (int id = ResultTextId(code)) return LoadResourceString(static_cast<UINT>(id));
    WString decimal;
    decimal.AppendDecimal(static_cast<int32_t>(code));
    WString system = SystemMessageText(code).Trimmed();
    return system == decimal ? LoadFormat(IDS_ERROR_CODE, decimal) : system;
}

// Windows 7 (6.1) or later.
bool TaskbarProgressAvailable() {
    OSVERSIONINFOEXW wanted;
    ZeroMemory(&wanted, sizeof(wanted));
    wanted.dwOSVersionInfoSize = sizeof(wanted);
    wanted.dwMajorVersion = 6;
    wanted.dwMinorVersion = 1;
    DWORDLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION, mask) != FALSE;
}
}  // namespace

HWND TopLevelWindowOf(HWND window) {
    HWND current = window;
    for (int depth = 0; current && depth < 64; ++depth) {
        HWND next = (GetWindowLongW(current, GWL_STYLE) & WS_CHILD) ? GetParent(current)
                                                                    : GetWindow(current, GW_OWNER);
        if (!next) break;
        current = next;
    }
    return current;
}

void TaskbarProgress::Attach(HWND dialog) {
    Release();
    window_ = TopLevelWindowOf(dialog);
    if (!TaskbarProgressAvailable()) return;
    void* list = nullptr;
    if (FAILED(CoCreateInstance(kClsidTaskbarList, nullptr, CLSCTX_INPROC_SERVER, kIidTaskbarList3, &list)) || !list)
        return;
    list_.Reset(static_cast<ITaskbarList3*>(list));
    // The object must be initialised once before use; without that there is
    // no taskbar progress.
    if (FAILED(list_.Get()->HrInit())) list_.Reset();
}

void TaskbarProgress::SetValue(uint64_t done, uint64_t total) {
    if (!list_) return;
    used_ = true;
    list_.Get()->SetProgressValue(window_, done, total);
}

void TaskbarProgress::SetState(TBPFLAG state) {
    if (!list_) return;
    used_ = true;
    list_.Get()->SetProgressState(window_, state);
}

void TaskbarProgress::Release() {
    if (!list_) return;
    if (used_) list_.Get()->SetProgressState(window_, TBPF_NOPROGRESS);
    list_.Reset();
    used_ = false;
}

ProgressDialog::~ProgressDialog() {
    worker_.Wait();
    taskbar_.Release();
}

INT_PTR ProgressDialog::Run(const WString& title, ProgressWork* work) {
    return Run(title, work, GetActiveWindow());
}

INT_PTR ProgressDialog::Run(const WString& title, ProgressWork* work, HWND owner) {
    INT_PTR result = ShowModal(title, work, owner);
    WaitForWorker();
    return result;
}

INT_PTR ProgressDialog::ShowModal(const WString& title, ProgressWork* work, HWND owner) {
    work_ = work;
    title_ = title.IsEmpty() ? SetupTitleFor(ProductNameOrPath(ModuleFileName())) : title;
    cancelled_ = false;
    stepCount_ = 0;
    itemTotal_ = 0;
    itemText_.Clear();
    bytesDone_ = 0;
    bytesTotal_ = 0;
    barPosition_ = 0;
    EnsureCommonControls();
    INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS), owner, DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    if (result != kCompleted && result != kCancelled && result != kMandatoryMissing) {
        // No dialog: nothing was done and the user saw nothing.
        DWORD error = GetLastError();
        if (LoggingEnabled) LogLine(u"Progress dialog could not be shown. Error:" + SystemMessageText(error));
    }
    return result;
}

void ProgressDialog::WaitForWorker() {
    HANDLE thread = worker_.Handle();
    if (!thread) return;
    for (;;) {
        DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
        if (wait == WAIT_OBJECT_0) return;
        if (wait != WAIT_OBJECT_0 + 1) break;
        // Answers the messages the worker sends (the dialog's controls are
        // gone by now; the calls just return), leaving posted ones queued.
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    worker_.Wait();
}

HWND ProgressDialog::Bar() const {
    HWND window = window_;
    return window ? GetDlgItem(window, IDC_PROGRESS_BAR) : nullptr;
}

void ProgressDialog::UpdateTaskbar(bool isValue, TBPFLAG state, uint64_t done, uint64_t total) {
    HWND window = window_;
    if (!window) return;
    TaskbarUpdate update = {isValue, state, done, total};
    SendMessageW(window, kMsgTaskbar, 0, reinterpret_cast<LPARAM>(&update));
}

void ProgressDialog::SetItemCount(uint64_t count, int) {
    if (HWND bar = Bar()) {
        SendMessageW(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(RangeItems(count) * kBarStepsPerItem));
        SendMessageW(bar, PBM_SETPOS, 0, 0);
    }
    stepCount_ = 0;
    itemTotal_ = count;
    barPosition_ = 0;
    bytesTotal_ = 0;
}

void ProgressDialog::SetLine(const WString& text, bool wrap) {
    HWND window = window_;
    if (window) SendMessageW(window, kMsgSetLine, wrap ? 1 : 0, reinterpret_cast<LPARAM>(&text));
}

void ProgressDialog::LayOutLine(HWND window, const WString& text, bool wrap) {
    HWND line = GetDlgItem(window, IDC_PROGRESS_TEXT);
    if (!line) return;
    LONG style = GetWindowLongW(line, GWL_STYLE) & ~SS_ELLIPSISMASK;
    RECT place = lineRect_;
    if (wrap) {
        RECT needed = {0, 0, place.right - place.left, 0};
        HDC dc = GetDC(line);
        if (dc) {
            HGDIOBJ font = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(line, WM_GETFONT, 0, 0)));
            DrawTextW(dc, text.wc(), -1, &needed, DT_CALCRECT | DT_WORDBREAK);
            SelectObject(dc, font);
            ReleaseDC(line, dc);
        }
        if (needed.bottom > place.bottom - place.top) place.top = place.bottom - needed.bottom;
        if (place.top < 0) place.top = 0;
    } else {
        style |= SS_PATHELLIPSIS;
    }
    SetWindowLongW(line, GWL_STYLE, style);
    SetWindowPos(line, nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowTextW(line, text.wc());
}

void ProgressDialog::MoveBar(int32_t position) {
    barPosition_ = position;
    if (HWND bar = Bar()) SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    UpdateTaskbar(true, TBPF_NORMAL, static_cast<uint64_t>(position),
                  static_cast<uint64_t>(RangeItems(itemTotal_)) * kBarStepsPerItem);
}

void ProgressDialog::SetStatusText(const WString& text, int kind, int) {
    if (kind != kStatusNewItem) return;
    itemText_ = text;
    bytesDone_ = 0;
    bytesTotal_ = 0;
    lastBytesText_.Clear();
    SetLine(text, false);
    stepCount_ = stepCount_ + 1;
    // An item without bytes counts as done when it begins.
    MoveBar(BarPosition(stepCount_, 0, 0));
}

void ProgressDialog::OnTransferStarted(int, uint64_t total, const WString&) {
    bytesDone_ = 0;
    bytesTotal_ = total;
    if (total) ShowBytes();
}

void ProgressDialog::OnProgress(uint64_t bytes) {
    bytesDone_ += bytes;
    if (bytesTotal_) ShowBytes();
}

void ProgressDialog::ShowBytes() {
    ByteAmounts amounts = ByteAmountsOf(bytesDone_, bytesTotal_);
    WString text = LoadFormat(IDS_ITEM_BYTES, itemText_,
                              LoadFormat(IDS_BYTES_KB + amounts.unit, amounts.done, amounts.total));
    if (text != lastBytesText_) {
        lastBytesText_ = text;
        SetLine(text, false);
    }
    int32_t position = BarPosition(stepCount_, bytesDone_, bytesTotal_);
    if (position != barPosition_) MoveBar(position);
}

WString ProgressDialog::FailureText(const WString& context, uint32_t code) {
    ItemFailure failure = work_->LastFailure();
    const WString& name = context.IsEmpty() ? failure.name : context;
    if (code == E_REBOOT_STARTED) return LoadFormat(IDS_RESTART_ASKED, name);
    if (code == E_DL_FILE_REJECTED) return LoadFormat(IDS_DOWNLOAD_FAILED, name, ReasonText(code));
    if (!failure.setup) return LoadFormat(IDS_DOWNLOAD_FAILED, name, ReasonText(failure.code));
    // Return codes read as the log writes them: unsigned.
    WString number;
    number.AppendUnsigned(failure.code);
    int id = ResultTextId(failure.code);
    if (!id) return LoadFormat(IDS_SETUP_FAILED_CODE, name, number);
    return Format(LoadResourceString(IDS_SETUP_FAILED).c_str(), name, number,
                  LoadResourceString(static_cast<UINT>(id)));
}

void ProgressDialog::ShowFailure(const WString& text) {
    HWND window = window_;
    if (!window) return;
    if (!text.IsEmpty()) SetLine(text, true);
    // The work has ended: nothing is left to cancel.
    SetDlgItemTextW(window, IDCANCEL, LoadResourceString(IDS_CLOSE).wc());
    // The failed item is not done.
    MoveBar(stepCount_ > 1 ? (stepCount_ - 1) * kBarStepsPerItem : 0);
}

uint32_t ProgressDialog::OnError(const WString& context, uint32_t code, void*) {
    HWND window = window_;
    if (code == E_DL_MANDATORY_FAILED || code == E_DL_FILE_REJECTED) {
        ShowFailure(FailureText(context, code));
    } else if (code == E_REBOOT_STARTED) {
        // The setup went through; the restart is up to the reboot question.
        SetLine(FailureText(context, code), true);
        if (window) SetDlgItemTextW(window, IDCANCEL, LoadResourceString(IDS_CLOSE).wc());
    } else if (!context.IsEmpty()) {
        // A transfer's own report: the file or URL and what went wrong.
        SetLine(context + u": " + ReasonText(code), true);
    }
    if (HWND bar = Bar()) {
        SendMessageW(bar, PBM_SETSTATE, PBST_ERROR, 0);
        // Without visual styles the state is not drawn; the bar colour
        // (ignored under visual styles) keeps the error visible there.
        SendMessageW(bar, PBM_SETBARCOLOR, 0, RGB(0xD0, 0x20, 0x20));
        // A visible blink: the red bar disappears for a moment.
        ShowWindow(bar, SW_HIDE);
        Sleep(200);
        ShowWindow(bar, SW_SHOW);
    }
    UpdateTaskbar(false, TBPF_ERROR, 0, 0);
    // Every question carried by an error (certificate, credentials) is refused.
    return code;
}

void ProgressDialog::OnFinished(int scope, int) {
    if (scope == kFinishedTransfer) {
        // The whole file is in place.
        if (bytesTotal_) {
            bytesDone_ = bytesTotal_;
            ShowBytes();
        }
        return;
    }
    if (scope != kFinishedSequence) return;
    UpdateTaskbar(false, TBPF_NOPROGRESS, 0, 0);
    INT_PTR result;
    if (work_->RebootStarted()) {
        result = kCancelled;
    } else {
        work_->Reevaluate();
        result = work_->CheckMandatory() ? kCompleted : kMandatoryMissing;
    }
    // The dialog ends on its own thread.
    if (HWND window = window_) PostMessageW(window, kMsgFinished, static_cast<WPARAM>(result), 0);
}

DWORD ProgressDialog::WorkerMain(void* context) {
    ProgressDialog* self = static_cast<ProgressDialog*>(context);
    return self->work_->RunSequence(self);
}

void ProgressDialog::OnInitDialog(HWND window) {
    window_ = window;
    icons_ = SetDialogIcons(window);
    CenterOverOwner(window);
    SetWindowTextW(window, title_.wc());
    SetDlgItemTextW(window, IDC_PROGRESS_TEXT, LoadResourceString(IDS_PREPARING).wc());
    if (HWND line = GetDlgItem(window, IDC_PROGRESS_TEXT)) {
        GetWindowRect(line, &lineRect_);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&lineRect_), 2);
    }
    taskbar_.Attach(window);
    if (!worker_.Start(WorkerMain, this)) {
        // Without a worker nothing would ever happen: the error state stays
        // until the user closes the dialog.
        DWORD error = GetLastError();
        ShowFailure(ReasonText(error));
        OnError(WString(), error, nullptr);
    }
}

INT_PTR ProgressDialog::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            cancelled_ = true;
            EndDialog(window, kCancelled);
        }
        return TRUE;
    case WM_ENDSESSION:
        // wParam is false when the shutdown or log-off was called off.
        if (wParam) work_->SetShutdownInProgress();
        SetWindowLongPtrW(window, DWLP_MSGRESULT, 0);
        return TRUE;
    case kMsgFinished:
        if (!cancelled_) EndDialog(window, static_cast<INT_PTR>(wParam));
        return TRUE;
    case kMsgSetLine:
        LayOutLine(window, *reinterpret_cast<const WString*>(lParam), wParam != 0);
        return TRUE;
    case kMsgTaskbar: {
        const TaskbarUpdate* update = reinterpret_cast<const TaskbarUpdate*>(lParam);
        if (update->isValue)
            taskbar_.SetValue(update->done, update->total);
        else
            taskbar_.SetState(update->state);
        return TRUE;
    }
    case WM_NCDESTROY:
        window_ = nullptr;
        DestroyDialogIcons(&icons_);
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK ProgressDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ProgressDialog* self = reinterpret_cast<ProgressDialog*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        self->OnInitDialog(window);
        return TRUE;
    }
    ProgressDialog* self = reinterpret_cast<ProgressDialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return self ? self->HandleMessage(window, message, wParam, lParam) : FALSE;
}

#include "ui/progress_dialog_win.h"

#include <commctrl.h>

#include "base/resource_ids.h"
#include "log/log.h"
#include "log/logger_win.h"
#include "platform/win_util.h"
#include "ui/progress_texts.h"

namespace {
// Posted by the worker thread as its last act.
constexpr UINT kMsgWorkerEnded = WM_APP + 1;
// Sent by the worker so that the taskbar list is used on the thread that
// created it; lParam points at a TaskbarUpdate.
constexpr UINT kMsgTaskbar = WM_APP + 2;
// Sent by the worker to set the status line; wParam is 1 to wrap, lParam
// points at the text.
constexpr UINT kMsgSetLine = WM_APP + 3;
// Sent by the worker with the lines and the bar; lParam points at a Display.
constexpr UINT kMsgDisplay = WM_APP + 4;
// Sent by the worker: wParam 1 puts the bar and the taskbar button into
// their error state (a failure was reported), 0 clears it (the next item).
constexpr UINT kMsgErrorState = WM_APP + 5;
// Sent by the worker when the work has failed: Close is offered.
constexpr UINT kMsgFailed = WM_APP + 6;

// How often the detail line's rate and time left change.
constexpr DWORD kDetailEveryMs = 1000;
// Bytes that do not move the bar refresh the lines at most this often.
constexpr DWORD kBytesEveryMs = 100;
// The summary's box grows with its text up to this height (dialog units).
constexpr int kSummaryMaxHeight = 150;

struct TaskbarUpdate {
    bool isValue;
    TBPFLAG state;
    uint64_t done;
    uint64_t total;
};

const CLSID kClsidTaskbarList = {0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
const IID kIidTaskbarList3 = {0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};

WString LoadFormat(UINT id, const WString& a) { return Format(LoadResourceString(id).c_str(), a); }
WString LoadFormat(UINT id, const WString& a, const WString& b) { return Format(LoadResourceString(id).c_str(), a, b); }
WString LoadFormat(UINT id, const WString& a, const WString& b, const WString& c) {
    return Format(LoadResourceString(id).c_str(), a, b, c);
}
WString Number(uint64_t value) {
    WString text;
    text.AppendUnsigned(value);
    return text;
}

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
    model_ = ProgressModel();
    model_.SetPlan(work_->Plan());
    downloadFormat_ = LoadResourceString(IDS_DOWNLOADING);
    installFormat_ = LoadResourceString(IDS_INSTALLING);
    siteFormat_ = LoadResourceString(IDS_OPENING_SITE);
    EnsureCommonControls();
    const DLGTEMPLATE* dialog = TextDialogTemplate(IDD_PROGRESS);
    INT_PTR result = dialog ? DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog, owner, DialogProc,
                                                      reinterpret_cast<LPARAM>(this))
                            : -1;
    if (result != kCompleted && result != kCancelled && result != kMandatoryMissing) {
        // No dialog: nothing was done and the user saw nothing.
        DWORD error = dialog ? GetLastError() : static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND);
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

// Worker side ----------------------------------------------------------------

void ProgressDialog::SetItemCount(uint64_t count, int) { model_.SetPhaseCount(count); }

void ProgressDialog::SetStatusText(const WString& text, int kind, int) {
    if (kind == kStatusSource) {
        // The download goes on from another place: the detail line says which.
        sourceText_ = text;
        Refresh(true);
        return;
    }
    if (kind != kStatusNewItem) return;
    sourceText_.Clear();
    // The item texts are those of the string table: their format tells the
    // kind of work and the item's name.
    WString name;
    WorkKind work = model_.HasItem() ? model_.CurrentKind() : WorkKind::Install;
    if (ArgumentOfFormat(downloadFormat_, text, &name))
        work = WorkKind::Download;
    else if (ArgumentOfFormat(installFormat_, text, &name))
        work = WorkKind::Install;
    else if (ArgumentOfFormat(siteFormat_, text, &name))
        work = WorkKind::OpenSite;
    else
        name = text;
    model_.StartItem(work);
    itemText_ = text;
    itemName_ = name;
    waiting_ = false;
    failureShown_ = false;
    // A failure of the item before is over: the bar and the taskbar button
    // lose their error state.
    if (HWND window = window_) SendMessageW(window, kMsgErrorState, 0, 0);
    Refresh(true);
}

void ProgressDialog::OnTransferStarted(int, uint64_t total, const WString&) {
    model_.TransferStarted(total);
    Refresh(false);
}

void ProgressDialog::OnProgress(uint64_t bytes) {
    const DWORD now = GetTickCount();
    model_.AddBytes(bytes, now);
    const bool wasWaiting = waiting_;
    waiting_ = false;
    // Every move of the bar is shown; the text between moves ten times a second.
    if (wasWaiting || model_.Position() != shown_.position || now - bytesAt_ >= kBytesEveryMs) {
        bytesAt_ = now;
        Refresh(false);
    }
}

void ProgressDialog::OnWaiting(WaitReason reason, uint32_t attempt, uint32_t attempts) {
    model_.Waiting();
    waiting_ = attempt != 0;
    if (waiting_)
        waitText_ = reason == WaitReason::InstallerBusy ? LoadResourceString(IDS_WAITING_INSTALLER)
                                                        : LoadFormat(IDS_WAITING_SERVER, Number(attempt), Number(attempts));
    Refresh(true);
}

void ProgressDialog::Refresh(bool force) {
    if (failureShown_) return;
    Display display;
    display.kind = model_.CurrentKind();
    display.name = itemName_;
    display.position = model_.Position();
    display.marquee = model_.Marquee();
    const bool downloading = model_.HasItem() && model_.CurrentKind() == WorkKind::Download;
    if (waiting_) {
        display.line = waitText_;
    } else {
        display.line = itemText_;
        if (downloading && (model_.BytesTotal() || model_.BytesDone())) {
            WString amount;
            if (model_.BytesTotal()) {
                ByteAmounts a = ByteAmountsOf(model_.BytesDone(), model_.BytesTotal());
                amount = LoadFormat(IDS_BYTES_KB + a.unit, a.done, a.total);
            } else {
                ByteAmounts a = ByteAmountsOf(model_.BytesDone(), model_.BytesDone());
                amount = LoadFormat(IDS_SO_FAR_KB + a.unit, a.done);
            }
            // "%s (%s)": the bytes are kept whole after the item's text.
            WString format = LoadResourceString(IDS_ITEM_BYTES);
            if (format.StartsWith(u"%s")) {
                display.suffix = Format(format.c_str(), WString(), amount);
            } else {
                display.line = Format(format.c_str(), itemText_, amount);
            }
        }
    }
    if (model_.HasItem()) {
        const DWORD now = GetTickCount();
        if (force || now - detailAt_ >= kDetailEveryMs || !anyShown_) {
            detailAt_ = now;
            display.detail = LoadFormat(IDS_ITEM_OF, Number(static_cast<uint64_t>(model_.ItemNumber())),
                                        Number(static_cast<uint64_t>(model_.PhaseCount())));
            if (!sourceText_.IsEmpty())
                display.detail = LoadFormat(IDS_JOIN, display.detail, LoadFormat(IDS_FROM_PLACE, sourceText_));
            const uint64_t rate = downloading && !waiting_ ? model_.BytesPerSecond() : 0;
            if (rate) {
                RateAmount r = RateAmountOf(rate);
                display.detail = LoadFormat(IDS_JOIN, display.detail, LoadFormat(IDS_RATE_KB + r.unit, r.value));
                const int64_t seconds = model_.SecondsLeft();
                if (seconds > 0) {
                    TimeLeft left = TimeLeftOf(seconds);
                    WString leftText = left.unit == TimeLeft::kHours
                                           ? LoadFormat(IDS_LEFT_HOURS, Number(left.value), Number(left.minutes))
                                           : LoadFormat(IDS_LEFT_SECONDS + left.unit, Number(left.value));
                    display.detail = LoadFormat(IDS_JOIN, display.detail, leftText);
                }
            }
        } else {
            display.detail = shown_.detail;
        }
    }
    if (anyShown_ && display.line == shown_.line && display.suffix == shown_.suffix &&
        display.detail == shown_.detail && display.position == shown_.position && display.marquee == shown_.marquee)
        return;
    shown_ = display;
    anyShown_ = true;
    if (HWND window = window_) SendMessageW(window, kMsgDisplay, 0, reinterpret_cast<LPARAM>(&display));
    UpdateTaskbar(!display.marquee, TBPF_INDETERMINATE, static_cast<uint64_t>(display.position),
                  static_cast<uint64_t>(ProgressModel::kRange));
}

void ProgressDialog::SetLine(const WString& text, bool wrap) {
    HWND window = window_;
    if (window) SendMessageW(window, kMsgSetLine, wrap ? 1 : 0, reinterpret_cast<LPARAM>(&text));
}

WString ProgressDialog::FailureText(const WString& context, uint32_t code) {
    ItemFailure failure = work_->LastFailure();
    const WString& name = context.IsEmpty() ? failure.name : context;
    if (code == E_REBOOT_STARTED) return LoadFormat(IDS_RESTART_ASKED, name);
    if (code == E_DL_FILE_REJECTED) return LoadFormat(IDS_DOWNLOAD_FAILED, name, ReasonText(code));
    if (!failure.setup) return LoadFormat(IDS_DOWNLOAD_FAILED, name, ReasonText(failure.code));
    // Return codes read as the log writes them: unsigned.
    int id = ResultTextId(failure.code);
    if (!id) return LoadFormat(IDS_SETUP_FAILED_CODE, name, Number(failure.code));
    return LoadFormat(IDS_SETUP_FAILED, name, Number(failure.code), LoadResourceString(static_cast<UINT>(id)));
}

uint32_t ProgressDialog::OnError(const WString& context, uint32_t code, void*) {
    HWND window = window_;
    const bool ends = code == E_DL_MANDATORY_FAILED || code == E_DL_FILE_REJECTED || code == E_REBOOT_STARTED;
    if (ends) {
        // The work has ended with this item: its text stays until Close.
        if (code != E_REBOOT_STARTED) model_.ItemFailed();
        failureShown_ = false;
        Refresh(true);
        SetLine(FailureText(context, code), true);
        failureShown_ = true;
        if (window) SendMessageW(window, kMsgFailed, 0, 0);
    } else if (!context.IsEmpty()) {
        // A transfer's own report: the file or URL and what went wrong.
        SetLine(context + u": " + ReasonText(code), true);
    }
    if (window) SendMessageW(window, kMsgErrorState, 1, 0);
    if (HWND bar = Bar()) {
        // A visible blink: the red bar disappears for a moment.
        ShowWindow(bar, SW_HIDE);
        Sleep(200);
        ShowWindow(bar, SW_SHOW);
    }
    // Every question carried by an error (certificate, credentials) is refused.
    return code;
}

void ProgressDialog::OnFinished(int scope, int) {
    if (scope == kFinishedTransfer) {
        // The whole file is in place.
        model_.TransferDone();
        Refresh(false);
        return;
    }
    if (scope != kFinishedSequence) return;
    model_.SequenceDone();
    Refresh(true);
    UpdateTaskbar(false, TBPF_NOPROGRESS, 0, 0);
    INT_PTR result;
    if (work_->RebootStarted()) {
        result = kCancelled;
    } else {
        work_->Reevaluate();
        result = work_->CheckMandatory() ? kCompleted : kMandatoryMissing;
    }
    finishedResult_ = result;
    sequenceFinished_ = true;
}

DWORD ProgressDialog::WorkerMain(void* context) {
    ProgressDialog* self = static_cast<ProgressDialog*>(context);
    const ResultCode code = self->work_->RunSequence(self);
    // The dialog ends, or summarises, on its own thread.
    if (HWND window = self->window_) PostMessageW(window, kMsgWorkerEnded, 0, 0);
    return code;
}

// Dialog side ------------------------------------------------------------------

namespace {

struct MeasureContext {
    HDC dc;
};

int MeasureWidth(const WString& text, void* context) {
    SIZE size = {0, 0};
    GetTextExtentPoint32W(static_cast<MeasureContext*>(context)->dc, text.wc(), text.Length(), &size);
    return size.cx;
}

// A control's place in its dialog's client area.
RECT PlaceOf(HWND dialog, HWND control) {
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Dialog units to pixels of this dialog.
int Pixels(HWND dialog, int units, bool vertical) {
    RECT rect = {0, 0, units, units};
    MapDialogRect(dialog, &rect);
    return vertical ? rect.bottom : rect.right;
}

// The height a text needs at the control's width and font.
int TextHeight(HWND control, const WString& text, int width) {
    RECT needed = {0, 0, width, 0};
    HDC dc = GetDC(control);
    if (!dc) return 0;
    HGDIOBJ font = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    DrawTextW(dc, text.wc(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX);
    SelectObject(dc, font);
    ReleaseDC(control, dc);
    return needed.bottom;
}

void SetMarquee(HWND bar, bool on) {
    LONG style = GetWindowLongW(bar, GWL_STYLE);
    const bool is = (style & PBS_MARQUEE) != 0;
    if (on == is) return;
    if (on) {
        SetWindowLongW(bar, GWL_STYLE, style | PBS_MARQUEE);
        SendMessageW(bar, PBM_SETMARQUEE, TRUE, 30);
    } else {
        SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
        SetWindowLongW(bar, GWL_STYLE, style & ~PBS_MARQUEE);
    }
}

}  // namespace

void ProgressDialog::ShowDisplay(HWND window, const Display& display) {
    current_ = display;
    if (HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR)) {
        SetMarquee(bar, display.marquee);
        if (!display.marquee) SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(display.position), 0);
    }
    // Once the user has cancelled, the line tells what the dialog waits for.
    if (cancelled_ || failed_) return;
    if (HWND line = GetDlgItem(window, IDC_PROGRESS_TEXT)) {
        RECT place;
        GetClientRect(line, &place);
        MeasureContext context = {GetDC(line)};
        WString text = display.line + display.suffix;
        if (context.dc) {
            HGDIOBJ font = SelectObject(context.dc, reinterpret_cast<HGDIOBJ>(SendMessageW(line, WM_GETFONT, 0, 0)));
            text = FitLine(display.line, display.suffix, place.right, MeasureWidth, &context);
            SelectObject(context.dc, font);
            ReleaseDC(line, context.dc);
        }
        SetWindowTextW(line, text.wc());
    }
    SetDlgItemTextW(window, IDC_PROGRESS_DETAIL, display.detail.wc());
}

void ProgressDialog::PlaceBelow(HWND window, int y, bool withBar) {
    HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR);
    HWND button = GetDlgItem(window, IDCANCEL);
    const int gap = Pixels(window, 5, true);
    RECT barPlace = PlaceOf(window, bar);
    RECT buttonPlace = PlaceOf(window, button);
    int top = y + gap;
    if (withBar) {
        SetWindowPos(bar, nullptr, barPlace.left, top + (buttonPlace.bottom - buttonPlace.top - (barPlace.bottom - barPlace.top)) / 2,
                     0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        ShowWindow(bar, SW_HIDE);
    }
    SetWindowPos(button, nullptr, buttonPlace.left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    // The client area ends a margin below the button.
    RECT client, frame;
    GetClientRect(window, &client);
    GetWindowRect(window, &frame);
    const int wanted = top + (buttonPlace.bottom - buttonPlace.top) + Pixels(window, 7, true);
    if (wanted != client.bottom) {
        SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + wanted - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        CenterOverOwner(window);
    }
}

void ProgressDialog::LayOutWrapped(HWND window, const WString& text) {
    HWND line = GetDlgItem(window, IDC_PROGRESS_TEXT);
    if (!line) return;
    RECT place = PlaceOf(window, line);
    // The text takes the place of both lines and more when it needs it.
    ShowWindow(GetDlgItem(window, IDC_PROGRESS_DETAIL), SW_HIDE);
    const int width = place.right - place.left;
    int height = TextHeight(line, text, width);
    const int twoLines = PlaceOf(window, GetDlgItem(window, IDC_PROGRESS_DETAIL)).bottom - place.top;
    if (height < twoLines) height = twoLines;
    SetWindowPos(line, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowTextW(line, text.wc());
    PlaceBelow(window, place.top + height, true);
}

void ProgressDialog::OfferClose(HWND window, INT_PTR result) {
    ended_ = true;
    endResult_ = result;
    HWND button = GetDlgItem(window, IDCANCEL);
    SetWindowTextW(button, LoadResourceString(IDS_CLOSE).wc());
    EnableWindow(button, TRUE);
    // A real default button: Enter closes.
    SendMessageW(window, DM_SETDEFID, IDCANCEL, 0);
    SendMessageW(button, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
}

void ProgressDialog::AskCancel(HWND window) {
    questionOpen_ = true;
    const int answer = MessageBoxW(window, LoadResourceString(IDS_CANCEL_QUESTION).wc(), title_.wc(),
                                   MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    questionOpen_ = false;
    if (answer == IDYES && !ended_) {
        cancelled_ = true;
        if (workerEnded_) {
            EndDialog(window, kCancelled);
            return;
        }
        // The running step goes to its end (a setup is never stopped); the
        // dialog stays until the worker has ended.
        WString text = current_.kind == WorkKind::Install && !current_.name.IsEmpty()
                           ? LoadFormat(IDS_CANCELLING_AFTER, current_.name)
                           : LoadResourceString(IDS_CANCELLING);
        SetDlgItemTextW(window, IDC_PROGRESS_TEXT, text.wc());
        SetDlgItemTextW(window, IDC_PROGRESS_DETAIL, L"");
        EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);
        return;
    }
    // The worker ended while the question was up.
    if (workerEnded_) FinishRun(window);
}

void ProgressDialog::FinishRun(HWND window) {
    if (cancelled_) {
        EndDialog(window, kCancelled);
        return;
    }
    // A restart keeps its notice; otherwise whatever was not done is told.
    if (!work_->RebootStarted() && ShowSummary(window)) return;
    if (sequenceFinished_) {
        EndDialog(window, finishedResult_);
        return;
    }
    // The work stopped without finishing: a failure stays on screen until
    // Close; without one there is nothing to read.
    if (!failed_) EndDialog(window, kCancelled);
}

bool ProgressDialog::ShowSummary(HWND window) {
    RunOutcome outcome = work_->Outcome();
    WString items, advice;
    bool mandatory = outcome.mandatoryMissing;
    auto advise = [&advice](UINT id) {
        WString text = LoadResourceString(id);
        if (advice.Find(text) < 0) advice += text + u"\r\n";
    };
    // The failure that ended the work is on screen already: every failure
    // is told once.
    int shown = -1;
    if (failed_)
        for (int i = outcome.items.Size() - 1; i >= 0 && shown < 0; --i)
            if (outcome.items[i].result == WorkResult::Failed) shown = i;
    // ... and the summary comes only when something else is left to tell;
    // it then replaces that line, so the failure is listed too.
    bool untold = false;
    for (int i = 0; i < outcome.items.Size(); ++i) untold = untold || (outcome.items[i].result != WorkResult::Done && i != shown);
    if (!untold) return false;
    for (int i = 0; i < outcome.items.Size(); ++i) {
        const WorkItemOutcome& item = outcome.items[i];
        if (item.result == WorkResult::Done) continue;
        mandatory = mandatory || item.mandatory;
        WString sentence;
        UINT help = IDS_ADVICE_RETRY;
        if (item.result == WorkResult::Skipped) {
            sentence = LoadFormat(IDS_SUMMARY_SKIPPED, item.name);
        } else if (item.result == WorkResult::StillMissing) {
            sentence = LoadFormat(IDS_SUMMARY_STILL_MISSING, item.name, item.name);
            help = IDS_ADVICE_RESTART;
        } else if (item.kind == WorkKind::Download) {
            sentence = LoadFormat(IDS_SUMMARY_DOWNLOAD_FAILED, item.name, ReasonText(item.code));
            const bool network = (item.code >= 12000 && item.code < 13000) || item.code == E_DL_STALLED ||
                                 item.code == E_DL_INCOMPLETE || item.code == E_DL_SERVER_UNAVAILABLE;
            if (network) help = IDS_ADVICE_CONNECTION;
        } else if (item.kind == WorkKind::OpenSite) {
            sentence = LoadFormat(IDS_SUMMARY_SITE_FAILED, item.name, ReasonText(item.code));
        } else if (!item.setupCode) {
            sentence = LoadFormat(IDS_SUMMARY_NOT_STARTED, item.name, ReasonText(item.code));
        } else {
            // Return codes read as the log writes them: unsigned.
            const int id = ResultTextId(item.code);
            sentence = id ? LoadFormat(IDS_SUMMARY_SETUP_FAILED, item.name, Number(item.code),
                                       LoadResourceString(static_cast<UINT>(id)))
                          : LoadFormat(IDS_SUMMARY_SETUP_FAILED_CODE, item.name, Number(item.code));
            if (item.code == 1641 || item.code == 3010 || item.code == 3011) help = IDS_ADVICE_RESTART;
        }
        items += WString(u"\u2022 ") + sentence + u"\r\n";
        advise(help);
    }
    if (items.IsEmpty()) return false;
    WString body = items + u"\r\n" + advice;
    if (LoggingEnabled) {
        WString log = TheLogger().Path();
        if (!log.IsEmpty()) body += u"\r\n" + LoadFormat(IDS_SUMMARY_LOG, log);
    }

    // The headline takes the status line, the list the box below it; the
    // bar and the detail line give way.
    HWND line = GetDlgItem(window, IDC_PROGRESS_TEXT);
    HWND box = GetDlgItem(window, IDC_SUMMARY);
    if (!line || !box) return false;
    const WString headline = LoadResourceString(mandatory ? IDS_SUMMARY_INCOMPLETE : IDS_SUMMARY_PARTIAL);
    ShowWindow(GetDlgItem(window, IDC_PROGRESS_DETAIL), SW_HIDE);
    RECT linePlace = PlaceOf(window, line);
    const int width = linePlace.right - linePlace.left;
    int headlineHeight = TextHeight(line, headline, width);
    if (headlineHeight < linePlace.bottom - linePlace.top) headlineHeight = linePlace.bottom - linePlace.top;
    SetWindowPos(line, nullptr, 0, 0, width, headlineHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowTextW(line, headline.wc());
    // The box is as high as its text as the box itself wraps it, within a
    // limit; only a longer text gets the scroll bar.
    const int limit = Pixels(window, kSummaryMaxHeight, true);
    SetWindowPos(box, nullptr, 0, 0, width, limit, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowTextW(box, body.wc());
    const int lines = static_cast<int>(SendMessageW(box, EM_GETLINECOUNT, 0, 0));
    RECT format = {0, 0, 0, 0};
    SendMessageW(box, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
    int lineHeight = 0;
    if (HDC dc = GetDC(box)) {
        HGDIOBJ font = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(box, WM_GETFONT, 0, 0)));
        TEXTMETRICW metrics;
        if (GetTextMetricsW(dc, &metrics)) lineHeight = metrics.tmHeight;
        SelectObject(dc, font);
        ReleaseDC(box, dc);
    }
    int boxHeight = lines * lineHeight + (limit - (format.bottom - format.top)) + Pixels(window, 2, true);
    ShowScrollBar(box, SB_VERT, boxHeight > limit);
    if (boxHeight > limit) boxHeight = limit;
    const int top = linePlace.top + headlineHeight + Pixels(window, 4, true);
    SetWindowPos(box, nullptr, linePlace.left, top, width, boxHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(box, SW_SHOW);
    PlaceBelow(window, top + boxHeight, false);
    SendMessageW(window, kMsgErrorState, 0, 0);
    OfferClose(window, sequenceFinished_ ? static_cast<INT_PTR>(finishedResult_) : kCancelled);
    return true;
}

void ProgressDialog::OnInitDialog(HWND window) {
    window_ = window;
    icons_ = SetDialogIcons(window);
    SetWindowTextW(window, title_.wc());
    SetDlgItemTextW(window, IDC_PROGRESS_TEXT, LoadResourceString(IDS_PREPARING).wc());
    SendMessageW(GetDlgItem(window, IDC_PROGRESS_BAR), PBM_SETRANGE32, 0, ProgressModel::kRange);
    CenterOverOwner(window);
    taskbar_.Attach(window);
    if (!worker_.Start(WorkerMain, this)) {
        // Without a worker nothing would ever happen: the error state stays
        // until the user closes the dialog.
        DWORD error = GetLastError();
        failed_ = true;
        LayOutWrapped(window, ReasonText(error));
        OnError(WString(), error, nullptr);
        OfferClose(window, kCancelled);
    }
}

INT_PTR ProgressDialog::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        // Cancel, Esc and closing the window come as IDCANCEL; Enter as
        // IDOK unless Close is the default button.
        if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
            if (ended_)
                EndDialog(window, endResult_);
            else if (LOWORD(wParam) == IDCANCEL && !cancelled_ && !questionOpen_)
                AskCancel(window);
        }
        return TRUE;
    case WM_ENDSESSION:
        // wParam is false when the shutdown or log-off was called off.
        if (wParam) work_->SetShutdownInProgress();
        SetWindowLongPtrW(window, DWLP_MSGRESULT, 0);
        return TRUE;
    case kMsgWorkerEnded:
        workerEnded_ = true;
        // An open question finishes the run once it is answered.
        if (!questionOpen_) FinishRun(window);
        return TRUE;
    case kMsgDisplay:
        ShowDisplay(window, *reinterpret_cast<const Display*>(lParam));
        return TRUE;
    case kMsgSetLine:
        if (wParam)
            LayOutWrapped(window, *reinterpret_cast<const WString*>(lParam));
        else
            SetDlgItemTextW(window, IDC_PROGRESS_TEXT, reinterpret_cast<const WString*>(lParam)->wc());
        return TRUE;
    case kMsgErrorState: {
        HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR);
        const bool error = wParam != 0;
        if (error == errorState_ || !bar) return TRUE;
        errorState_ = error;
        if (error) SetMarquee(bar, false);
        SendMessageW(bar, PBM_SETSTATE, error ? PBST_ERROR : PBST_NORMAL, 0);
        // Without visual styles the state is not drawn; the bar colour
        // (ignored under visual styles) keeps the error visible there.
        SendMessageW(bar, PBM_SETBARCOLOR, 0, error ? RGB(0xD0, 0x20, 0x20) : CLR_DEFAULT);
        taskbar_.SetState(error ? TBPF_ERROR : TBPF_NORMAL);
        return TRUE;
    }
    case kMsgFailed:
        failed_ = true;
        OfferClose(window, kCancelled);
        return TRUE;
    case kMsgTaskbar: {
        const TaskbarUpdate* update = reinterpret_cast<const TaskbarUpdate*>(lParam);
        if (errorState_) return TRUE;
        if (update->isValue) {
            taskbar_.SetState(TBPF_NORMAL);
            taskbar_.SetValue(update->done, update->total);
        } else {
            taskbar_.SetState(update->state);
        }
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
        // The focus rests on the bar, not on Cancel: a stray Space or Enter
        // cancels nothing.
        SetFocus(GetDlgItem(window, IDC_PROGRESS_BAR));
        return FALSE;
    }
    ProgressDialog* self = reinterpret_cast<ProgressDialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return self ? self->HandleMessage(window, message, wParam, lParam) : FALSE;
}

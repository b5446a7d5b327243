// Test probe: shows the status window and the progress dialog of the product
// library, the dialog driven by scripted work instead of the engine, and
// reports what happened on stdout (one flushed line per event).
//   ui_probe title <exe-path>
//   ui_probe status [--silent] [--skip] [--exe <path>] [--hold <ms>] [--same-thread] [--waiting]
//   ui_probe progress [--title <text>] [--mandatory-missing] [--reboot] [--plan D1000,D,S,I] [--log <path>]
//                     <step>...
// Steps: count:N text:S text7:S sleep:MS check error:CODE[:S] scope1 finish
//        waitshutdown:MS failure:download|setup:CODE:NAME (what LastFailure answers)
//        started:TOTAL progress:BYTES (a transfer's stream and its bytes)
//        wait:silent|lost|unavailable|busy:ATTEMPT:ATTEMPTS (OnWaiting)
//        outcome:D|S|I:done|failed|skipped|missing:CODE:FLAGS:NAME (an item of the
//        run's outcome; FLAGS: s the code is a setup's, m mandatory, - none)
//        untilcancel:MS (a step that runs until the dialog is cancelled)
//        item:download|install|site:NAME (kind 9 with the string table's text for it)
//        measure (reports whether each text fits its control: "fit <when> id=N fits=0|1";
//        the summary is measured once it is shown, as "fit summary ...")
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "base/resource_ids.h"
#include "log/log.h"
#include "log/logger_win.h"
#include "platform/win_util.h"
#include "ui/progress_dialog_win.h"
#include "ui/status_window_win.h"

namespace {
CRITICAL_SECTION g_out;
DWORD g_start;

// One line, as UTF-8 so that texts in any language reach the test whole.
void Say(const wchar_t* format, ...) {
    wchar_t text[4096];
    static char bytes[16384];
    va_list args;
    va_start(args, format);
    vswprintf(text, 4096, format, args);
    va_end(args);
    EnterCriticalSection(&g_out);
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof(bytes), nullptr, nullptr);
    printf("%lu ", static_cast<unsigned long>(GetTickCount() - g_start));
    if (n > 1) fwrite(bytes, 1, static_cast<size_t>(n - 1), stdout);
    printf("\n");
    fflush(stdout);
    LeaveCriticalSection(&g_out);
}

BOOL CALLBACK FindDialog(HWND window, LPARAM out) {
    wchar_t cls[64];
    GetClassNameW(window, cls, 64);
    if (wcscmp(cls, L"#32770") == 0) {
        *reinterpret_cast<HWND*>(out) = window;
        return FALSE;
    }
    return TRUE;
}

HWND ThreadDialog() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Whether each visible text of a window of this process fits its control in
// the control's own font: across one line, or in as many lines as the
// control is high; a button keeps room for its edges.
BOOL CALLBACK ReportFit(HWND child, LPARAM when) {
    wchar_t cls[64], text[1024];
    GetClassNameW(child, cls, 64);
    const bool button = !wcscmp(cls, L"Button");
    if ((!button && wcscmp(cls, L"Static")) || !IsWindowVisible(child)) return TRUE;
    GetWindowTextW(child, text, 1024);
    RECT client;
    GetClientRect(child, &client);
    HDC dc = GetDC(child);
    int fits = 0;
    if (dc) {
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(child, WM_GETFONT, 0, 0)));
        TEXTMETRICW metrics;
        GetTextMetricsW(dc, &metrics);
        const int width = client.right - (button ? 8 : 0);
        RECT need = {0, 0, width, 0};
        DrawTextW(dc, text, -1, &need,
                  DT_CALCRECT | (button ? 0 : DT_NOPREFIX) |
                      (client.bottom >= 2 * metrics.tmHeight ? DT_WORDBREAK : DT_SINGLELINE));
        fits = need.right <= width && need.bottom <= client.bottom;
        SelectObject(dc, old);
        ReleaseDC(child, dc);
    }
    Say(L"fit %ls id=%d fits=%d", reinterpret_cast<const wchar_t*>(when), GetDlgCtrlID(child), fits);
    return TRUE;
}

void ReportFits(const wchar_t* when, HWND window) {
    if (window) EnumChildWindows(window, ReportFit, reinterpret_cast<LPARAM>(when));
}

void DescribeStatusWindow(const wchar_t* when) {
    HWND dialog = ThreadDialog();
    if (!dialog) {
        Say(L"%ls window=none", when);
        return;
    }
    wchar_t title[512], text[512];
    GetWindowTextW(dialog, title, 512);
    GetDlgItemTextW(dialog, IDC_STATUS_TEXT, text, 512);
    RECT t, s;
    GetWindowRect(GetDlgItem(dialog, IDC_STATUS_TEXT), &t);
    GetWindowRect(GetDlgItem(dialog, IDCANCEL), &s);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&t), 2);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&s), 2);
    Say(L"%ls window=shown|visible=%d|title=%ls|text=%ls|textrect=%ld,%ld,%ld,%ld|skiprect=%ld,%ld,%ld,%ld|skipvisible=%d"
        L"|icon=%d",
        when, IsWindowVisible(dialog) ? 1 : 0, title, text, t.left, t.top, t.right, t.bottom, s.left, s.top, s.right,
        s.bottom, IsWindowVisible(GetDlgItem(dialog, IDCANCEL)) ? 1 : 0,
        SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0) != 0 ? 1 : 0);
    ReportFits(when, dialog);
}

// Pumps messages for a while, as the main flow does during the search.
void PumpFor(DWORD ms) {
    HANDLE timer = CreateWaitableTimerW(nullptr, TRUE, nullptr);
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(ms) * 10000;
    SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
    WaitWithMessages(timer);
    CloseHandle(timer);
}

StatusWindow* g_status;
DWORD g_hold;

DWORD WINAPI HideFromWorker(void*) {
    Sleep(g_hold);
    Say(L"worker hiding");
    g_status->Hide();
    Say(L"worker hidden");
    return 0;
}

int RunStatus(int argc, wchar_t** argv) {
    bool silent = false, skip = false, sameThread = false, waiting = false;
    const wchar_t* exe = nullptr;
    g_hold = 500;
    for (int i = 2; i < argc; ++i) {
        if (!wcscmp(argv[i], L"--silent")) silent = true;
        else if (!wcscmp(argv[i], L"--skip")) skip = true;
        else if (!wcscmp(argv[i], L"--same-thread")) sameThread = true;
        else if (!wcscmp(argv[i], L"--waiting")) waiting = true;
        else if (!wcscmp(argv[i], L"--exe") && i + 1 < argc) exe = argv[++i];
        else if (!wcscmp(argv[i], L"--hold") && i + 1 < argc) g_hold = static_cast<DWORD>(_wtoi(argv[++i]));
    }
    Interactive = !silent;
    StatusWindow status;
    g_status = &status;
    if (exe) status.SetExecutablePath(WString(exe));
    status.Show(IDS_PREPARING, skip);
    DescribeStatusWindow(L"preparing");
    PumpFor(g_hold);
    status.Show(IDS_SEARCHING, skip);
    DescribeStatusWindow(L"searching");
    if (waiting) {
        status.Show(IDS_WAITING_INSTALLER, skip);
        DescribeStatusWindow(L"waiting");
        PumpFor(g_hold);
    }
    if (sameThread) {
        PumpFor(g_hold);
        Say(L"hiding");
        status.Hide();
        Say(L"hidden");
    } else {
        HANDLE worker = CreateThread(nullptr, 0, HideFromWorker, nullptr, 0, nullptr);
        bool signalled = WaitWithMessages(worker);
        Say(L"wait=%d", signalled ? 1 : 0);
        CloseHandle(worker);
    }
    DescribeStatusWindow(L"hidden");
    return 0;
}

HWND g_progress;   // the progress dialog, once shown
DWORD g_mainThread;
HANDLE g_summaryShown;

BOOL CALLBACK FindProgress(HWND window, LPARAM) {
    if (GetDlgItem(window, IDC_PROGRESS_BAR)) g_progress = window;
    return g_progress == nullptr;
}

// Measures the summary once the dialog has shown it.
DWORD WINAPI MeasureSummary(void*) {
    if (WaitForSingleObject(g_summaryShown, 60000) != WAIT_OBJECT_0) return 0;
    Sleep(500);
    ReportFits(L"summary", g_progress);
    return 0;
}

class ScriptedWork : public ProgressWork {
public:
    wchar_t** steps = nullptr;
    int stepCount = 0;
    bool mandatoryPresent = true;
    bool rebootStarted = false;
    volatile bool shutdown = false;
    ItemFailure failure;
    Array<PlannedWork> plan;
    RunOutcome outcome;

    ResultCode RunSequence(TransferObserver* observer) override {
        HRESULT com = CoInitialize(nullptr);
        for (int i = 0; i < stepCount; ++i) {
            wchar_t* step = steps[i];
            wchar_t* arg = wcschr(step, L':');
            if (arg) *arg++ = 0;
            Say(L"step %ls %ls", step, arg ? arg : L"");
            if (!wcscmp(step, L"count")) {
                observer->SetItemCount(_wcstoui64(arg, nullptr, 10), 0);
            } else if (!wcscmp(step, L"text")) {
                observer->SetStatusText(WString(arg), 9, 0);
            } else if (!wcscmp(step, L"item")) {
                wchar_t* name = wcschr(arg, L':');
                if (name) *name++ = 0;
                UINT id = !wcscmp(arg, L"download") ? IDS_DOWNLOADING : !wcscmp(arg, L"site") ? IDS_OPENING_SITE
                                                                                              : IDS_INSTALLING;
                observer->SetStatusText(Format(LoadResourceString(id).c_str(), WString(name ? name : L"")), 9, 0);
            } else if (!wcscmp(step, L"text7")) {
                observer->SetStatusText(WString(arg), 7, 0);
            } else if (!wcscmp(step, L"sleep")) {
                Sleep(static_cast<DWORD>(_wtoi(arg)));
                Say(L"slept %ls", arg);
            } else if (!wcscmp(step, L"check")) {
                if (observer->IsCancelled()) {
                    Say(L"cancelled-seen");
                    break;
                }
            } else if (!wcscmp(step, L"error")) {
                wchar_t* text = wcschr(arg, L':');
                if (text) *text++ = 0;
                uint32_t code = static_cast<uint32_t>(wcstoul(arg, nullptr, 0));
                uint32_t answer = observer->OnError(WString(text ? text : L""), code, nullptr);
                Say(L"onerror code=0x%08X answer=0x%08X", code, answer);
            } else if (!wcscmp(step, L"failure")) {
                wchar_t* code = wcschr(arg, L':');
                wchar_t* name = code ? wcschr(code + 1, L':') : nullptr;
                if (code) *code++ = 0;
                if (name) *name++ = 0;
                failure.setup = !wcscmp(arg, L"setup");
                failure.code = code ? static_cast<uint32_t>(wcstoul(code, nullptr, 0)) : 0;
                failure.name = WString(name ? name : L"");
            } else if (!wcscmp(step, L"started")) {
                observer->OnTransferStarted(1, static_cast<uint64_t>(_wcstoui64(arg, nullptr, 0)), WString());
            } else if (!wcscmp(step, L"progress")) {
                observer->OnProgress(static_cast<uint64_t>(_wcstoui64(arg, nullptr, 0)));
            } else if (!wcscmp(step, L"wait")) {
                wchar_t* attempt = wcschr(arg, L':');
                wchar_t* attempts = attempt ? wcschr(attempt + 1, L':') : nullptr;
                if (attempt) *attempt++ = 0;
                if (attempts) *attempts++ = 0;
                WaitReason reason = !wcscmp(arg, L"busy")          ? WaitReason::InstallerBusy
                                    : !wcscmp(arg, L"lost")        ? WaitReason::ConnectionLost
                                    : !wcscmp(arg, L"unavailable") ? WaitReason::ServerUnavailable
                                                                   : WaitReason::ServerSilent;
                observer->OnWaiting(reason, attempt ? static_cast<uint32_t>(_wtoi(attempt)) : 0,
                                    attempts ? static_cast<uint32_t>(_wtoi(attempts)) : 0);
            } else if (!wcscmp(step, L"outcome")) {
                wchar_t* fields[5] = {arg, nullptr, nullptr, nullptr, nullptr};
                for (int f = 1; f < 5 && fields[f - 1]; ++f) {
                    fields[f] = wcschr(fields[f - 1], L':');
                    if (fields[f]) *fields[f]++ = 0;
                }
                WorkItemOutcome item;
                item.kind = fields[0][0] == L'D' ? WorkKind::Download : fields[0][0] == L'S' ? WorkKind::OpenSite
                                                                                            : WorkKind::Install;
                const wchar_t* result = fields[1] ? fields[1] : L"done";
                item.result = !wcscmp(result, L"failed")    ? WorkResult::Failed
                              : !wcscmp(result, L"skipped") ? WorkResult::Skipped
                              : !wcscmp(result, L"missing") ? WorkResult::StillMissing
                                                            : WorkResult::Done;
                item.code = fields[2] ? static_cast<uint32_t>(wcstoul(fields[2], nullptr, 0)) : 0;
                item.setupCode = fields[3] && wcschr(fields[3], L's');
                item.mandatory = fields[3] && wcschr(fields[3], L'm');
                item.name = WString(fields[4] ? fields[4] : L"");
                outcome.items.Add(item);
            } else if (!wcscmp(step, L"untilcancel")) {
                DWORD until = GetTickCount() + static_cast<DWORD>(_wtoi(arg));
                while (!observer->IsCancelled() && static_cast<LONG>(until - GetTickCount()) > 0) Sleep(10);
                Sleep(1500);  // the step's own end, after the cancellation
                Say(L"step-ended cancelled=%d", observer->IsCancelled() ? 1 : 0);
            } else if (!wcscmp(step, L"measure")) {
                EnumThreadWindows(g_mainThread, FindProgress, 0);
                ReportFits(L"progress", g_progress);
            } else if (!wcscmp(step, L"scope1")) {
                observer->OnFinished(1, 0);
            } else if (!wcscmp(step, L"finish")) {
                observer->OnFinished(0, 0);
            } else if (!wcscmp(step, L"waitshutdown")) {
                DWORD until = GetTickCount() + static_cast<DWORD>(_wtoi(arg));
                while (!shutdown && static_cast<LONG>(until - GetTickCount()) > 0) Sleep(10);
                Say(L"shutdown-seen=%d", shutdown ? 1 : 0);
            }
        }
        if (SUCCEEDED(com)) CoUninitialize();
        Say(L"sequence-ended");
        return 0;
    }
    void Reevaluate() override { Say(L"reevaluate"); }
    bool CheckMandatory() override {
        Say(L"check-mandatory");
        return mandatoryPresent;
    }
    bool RebootStarted() const override { return rebootStarted; }
    ItemFailure LastFailure() override { return failure; }
    Array<PlannedWork> Plan() override { return plan; }
    RunOutcome Outcome() override {
        Say(L"outcome-asked");
        EnumThreadWindows(g_mainThread, FindProgress, 0);
        SetEvent(g_summaryShown);
        RunOutcome answer = outcome;
        answer.mandatoryMissing = !mandatoryPresent;
        return answer;
    }
    void SetShutdownInProgress() override {
        shutdown = true;
        Say(L"shutdown-flag");
    }
};

int RunProgress(int argc, wchar_t** argv) {
    Interactive = true;
    ScriptedWork work;
    WString title;
    int i = 2;
    for (; i < argc; ++i) {
        if (!wcscmp(argv[i], L"--title") && i + 1 < argc) title = WString(argv[++i]);
        else if (!wcscmp(argv[i], L"--mandatory-missing")) work.mandatoryPresent = false;
        else if (!wcscmp(argv[i], L"--reboot")) work.rebootStarted = true;
        else if (!wcscmp(argv[i], L"--log") && i + 1 < argc) {
            LoggingEnabled = true;
            TheLogger().SetLogFile(WString(argv[++i]));
        } else if (!wcscmp(argv[i], L"--plan") && i + 1 < argc) {
            for (wchar_t* item = argv[++i]; item && *item;) {
                PlannedWork work_item;
                work_item.kind = item[0] == L'D' ? WorkKind::Download : item[0] == L'S' ? WorkKind::OpenSite
                                                                                       : WorkKind::Install;
                work_item.size = _wcstoui64(item + 1, nullptr, 10);
                work.plan.Add(work_item);
                item = wcschr(item, L',');
                if (item) ++item;
            }
        } else break;
    }
    work.steps = argv + i;
    work.stepCount = argc - i;
    g_mainThread = GetCurrentThreadId();
    g_summaryShown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE measurer = CreateThread(nullptr, 0, MeasureSummary, nullptr, 0, nullptr);
    INT_PTR result;
    {
        ProgressDialog dialog;
        result = dialog.ShowModal(title, &work, GetActiveWindow());
        Say(L"dialog-ended=%d", static_cast<int>(result));
        dialog.WaitForWorker();
        Say(L"worker-joined");
    }
    if (LoggingEnabled) TheLogger().Close();
    SetEvent(g_summaryShown);
    WaitForSingleObject(measurer, 5000);
    CloseHandle(measurer);
    return static_cast<int>(result);
}

int RunTitleCommand(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    Interactive = false;
    StatusWindow status;
    status.SetExecutablePath(WString(argv[2]));
    Say(L"product=%ls", ReadProductName(WString(argv[2])).wc());
    Say(L"title=%ls", status.EnsureTitle().wc());
    return 0;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    InitializeCriticalSection(&g_out);
    g_start = GetTickCount();
    HRESULT com = CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    int code = 2;
    if (argc >= 2 && !wcscmp(argv[1], L"status")) code = RunStatus(argc, argv);
    else if (argc >= 2 && !wcscmp(argv[1], L"progress")) code = RunProgress(argc, argv);
    else if (argc >= 2 && !wcscmp(argv[1], L"title")) code = RunTitleCommand(argc, argv);
    if (com == S_OK) CoUninitialize();
    return code;
}

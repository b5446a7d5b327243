#include "ui/status_window_win.h"

#include "base/fatal.h"
#include "base/resource_ids.h"
#include "log/log.h"
#include "platform/version_resource_win.h"
#include "platform/win_util.h"

namespace {
// Posted by Hide from another thread: the window destroys itself.
constexpr UINT kMsgDestroySelf = WM_USER + 1;

RECT ChildRect(HWND dialog, HWND child) {
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}
}  // namespace

StatusWindow::~StatusWindow() { Hide(); }

void StatusWindow::Show(UINT stringId, bool showSkip) {
    if (!Interactive) return;
    skipVisible_ = showSkip;
    if (!window_) {
        EnsureCommonControls();
        const DLGTEMPLATE* dialog = TextDialogTemplate(IDD_STATUS);
        window_ = dialog ? CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dialog, GetActiveWindow(), DialogProc,
                                                      reinterpret_cast<LPARAM>(this))
                         : nullptr;
        if (!window_) return;
        ownerThread_ = GetCurrentThreadId();
        shown_ = true;
    } else {
        Layout();
    }
    SetWindowTextW(window_, EnsureTitle().wc());
    SetDlgItemTextW(window_, IDC_STATUS_TEXT, LoadResourceString(stringId).wc());
}

void StatusWindow::Hide() {
    if (!shown_) return;
    HWND window = window_;
    if (window && IsWindow(window)) {
        if (GetCurrentThreadId() == ownerThread_) {
            DestroyWindow(window);
        } else if (PostMessageW(window, kMsgDestroySelf, 0, 0)) {
            // The owning thread pumps messages while this thread waits. A
            // window whose thread has ended is gone as well.
            while (IsWindow(window)) Sleep(1);
        }
    }
    window_ = nullptr;
    shown_ = false;
}

const WString& StatusWindow::EnsureTitle() {
    if (title_.IsEmpty()) {
        if (productName_.IsEmpty()) {
            // The run sequence shows the window before it hands over the
            // executable path; the title is then taken from this process.
            if (executablePath_.IsEmpty()) executablePath_ = ModuleFileName();
            productName_ = ProductNameOrPath(executablePath_);
        }
        title_ = SetupTitleFor(productName_);
    }
    return title_;
}

void StatusWindow::Layout() {
    if (!window_) return;
    HWND text = GetDlgItem(window_, IDC_STATUS_TEXT);
    HWND skip = GetDlgItem(window_, IDCANCEL);
    if (!text || !skip) return;
    RECT textRect = ChildRect(window_, text);
    if (textRight_ < 0) textRight_ = textRect.right;
    ShowWindow(skip, skipVisible_ ? SW_SHOWNA : SW_HIDE);
    int right = skipVisible_ ? textRight_ : ChildRect(window_, skip).right;
    SetWindowPos(text, nullptr, 0, 0, right - textRect.left, textRect.bottom - textRect.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK StatusWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    StatusWindow* self = reinterpret_cast<StatusWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_INITDIALOG:
        self = reinterpret_cast<StatusWindow*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        self->window_ = window;
        self->icons_ = SetDialogIcons(window);
        CenterOverOwner(window);
        self->Layout();
        return TRUE;
    case WM_COMMAND:
        // Id 2 is the Skip button; closing the window arrives here too and
        // counts only while Skip is offered.
        if (LOWORD(wParam) == IDCANCEL && self && self->skipVisible_) {
            self->skipRequested_ = true;
            EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);
        }
        return TRUE;
    case kMsgDestroySelf:
        DestroyWindow(window);
        return TRUE;
    case WM_NCDESTROY:
        if (self) {
            DestroyDialogIcons(&self->icons_);
            if (self->window_ == window) self->window_ = nullptr;
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        }
        return FALSE;
    }
    return FALSE;
}

WString ReadProductName(const WString& executablePath) {
    VersionResource resource;
    if (!resource.Read(executablePath)) return WString();
    return resource.StringValue(u"ProductName");
}

bool WaitWithMessages(HANDLE handle, DWORD* waitResult) {
    for (;;) {
        DWORD wait = MsgWaitForMultipleObjectsEx(1, &handle, INFINITE, QS_ALLINPUT | QS_ALLPOSTMESSAGE,
                                                 MWMO_INPUTAVAILABLE);
        if (wait != WAIT_OBJECT_0 + 1) {
            if (waitResult) *waitResult = wait;
            return wait == WAIT_OBJECT_0;
        }
        MSG message;
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

// The one-line status window shown while preparing and searching.
#pragma once

#include <windows.h>

#include "base/wstr.h"
#include "ui/dialog_support_win.h"

class StatusWindow {
public:
    StatusWindow() {}
    ~StatusWindow();
    StatusWindow(const StatusWindow&) = delete;
    StatusWindow& operator=(const StatusWindow&) = delete;

    void Show(UINT stringId, bool showSkip);
    void Hide();

    void SetExecutablePath(const WString& path) { executablePath_ = path; }
    void SetProductName(const WString& name) { productName_ = name; }
    void SetTitle(const WString& title) { title_ = title; }
    const WString& ExecutablePath() const { return executablePath_; }
    const WString& ProductName() const { return productName_; }
    const WString& Title() const { return title_; }
    // The title, computed from the product name when it is still empty.
    const WString& EnsureTitle();
    bool SkipRequested() const { return skipRequested_; }

private:
    static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
    void Layout();
    WString executablePath_;
    WString title_;
    WString productName_;
    HWND window_ = nullptr;
    bool shown_ = false;
    DWORD ownerThread_ = 0;
    bool skipVisible_ = false;
    volatile bool skipRequested_ = false;
    int textRight_ = -1;
    DialogIcons icons_;
};

// The executable's ProductName (first translation, else 1033/1250), or empty.
WString ReadProductName(const WString& executablePath);

// Waits for the handle while dispatching one message per wake-up; true when
// it is signalled. waitResult, when given, receives the wait's own answer
// (WAIT_ABANDONED_0 for an abandoned mutex).
bool WaitWithMessages(HANDLE handle, DWORD* waitResult = nullptr);

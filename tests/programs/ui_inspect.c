/* Test helper: finds a top-level window by its title and reads or drives it
   from outside, the way a user or the system would.
     ui_inspect find <title> <timeout-ms>          prints hwnd, rectangles of the children (a bar
                                                   also its position and upper limit)
     ui_inspect watch <title> <timeout-ms>         prints every change of the progress dialog
     ui_inspect cancel <title>                     presses Cancel (command id 2)
     ui_inspect close <title>                      closes through the system menu
     ui_inspect endsession <title> <0|1>           sends WM_ENDSESSION
   Exit code 0 on success, 1 when the window was not found. */
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <wchar.h>

static HWND FindByTitle(const wchar_t* title, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindWindowW(L"#32770", title);
        if (window) return window;
        if (GetTickCount() - start >= timeoutMs) return NULL;
        Sleep(10);
    }
}

static BOOL CALLBACK Child(HWND child, LPARAM dialog) {
    wchar_t cls[64], text[512], bar[64] = L"";
    RECT r;
    GetClassNameW(child, cls, 64);
    if (!wcscmp(cls, PROGRESS_CLASSW)) {
        DWORD_PTR pos = 0, high = 0;
        SendMessageTimeoutW(child, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &pos);
        SendMessageTimeoutW(child, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 2000, &high);
        swprintf(bar, 64, L" bar=%d/%d", (int)pos, (int)high);
    }
    SendMessageTimeoutW(child, WM_GETTEXT, 512, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, NULL);
    GetWindowRect(child, &r);
    MapWindowPoints(NULL, (HWND)dialog, (POINT*)&r, 2);
    wprintf(L"child id=%d class=%ls rect=%ld,%ld,%ld,%ld visible=%d style=0x%08lx%ls text=%ls\n",
            GetDlgCtrlID(child), cls, r.left, r.top, r.right, r.bottom, IsWindowVisible(child) ? 1 : 0,
            (unsigned long)GetWindowLongW(child, GWL_STYLE), bar, text);
    return TRUE;
}

static void Describe(HWND window) {
    wchar_t title[512];
    RECT w, c;
    GetWindowTextW(window, title, 512);
    GetWindowRect(window, &w);
    GetClientRect(window, &c);
    wprintf(L"hwnd=0x%llx title=%ls window=%ld,%ld,%ld,%ld client=%ld,%ld owner=0x%llx\n",
            (unsigned long long)(ULONG_PTR)window, title, w.left, w.top, w.right, w.bottom, c.right, c.bottom,
            (unsigned long long)(ULONG_PTR)GetWindow(window, GW_OWNER));
    EnumChildWindows(window, Child, (LPARAM)window);
}

static int Watch(HWND dialog, DWORD timeoutMs) {
    wchar_t last[1024] = L"", now[1024], text[512];
    DWORD start = GetTickCount();
    HWND bar = GetDlgItem(dialog, 1035);
    while (IsWindow(dialog)) {
        DWORD_PTR pos = 0, high = 0, state = 0;
        text[0] = 0;
        SendMessageTimeoutW(GetDlgItem(dialog, 1034), WM_GETTEXT, 512, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, NULL);
        SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &pos);
        SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 2000, &high);
        SendMessageTimeoutW(bar, PBM_GETSTATE, 0, 0, SMTO_ABORTIFHUNG, 2000, &state);
        swprintf(now, 1024, L"text=%ls|pos=%d|high=%d|state=%d|visible=%d", text, (int)pos, (int)high, (int)state,
                 IsWindowVisible(bar) ? 1 : 0);
        if (IsWindow(dialog) && wcscmp(now, last) != 0) {
            wprintf(L"%lu %ls\n", GetTickCount() - start, now);
            fflush(stdout);
            wcscpy(last, now);
        }
        if (GetTickCount() - start >= timeoutMs) {
            wprintf(L"%lu timeout\n", GetTickCount() - start);
            return 0;
        }
        Sleep(5);
    }
    wprintf(L"%lu gone\n", GetTickCount() - start);
    return 0;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    DWORD timeout = argc > 3 ? (DWORD)_wtoi(argv[3]) : 10000;
    HWND window = FindByTitle(argv[2], wcscmp(argv[1], L"find") == 0 || wcscmp(argv[1], L"watch") == 0 ? timeout : 2000);
    if (!window) {
        wprintf(L"not-found\n");
        return 1;
    }
    if (!wcscmp(argv[1], L"find")) {
        Describe(window);
    } else if (!wcscmp(argv[1], L"watch")) {
        return Watch(window, timeout);
    } else if (!wcscmp(argv[1], L"cancel")) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(window, IDCANCEL));
    } else if (!wcscmp(argv[1], L"close")) {
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (!wcscmp(argv[1], L"endsession")) {
        DWORD_PTR ignored;
        SendMessageTimeoutW(window, WM_ENDSESSION, (WPARAM)_wtoi(argv[3]), ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000,
                            &ignored);
    } else {
        return 2;
    }
    wprintf(L"ok\n");
    fflush(stdout);
    return 0;
}

/* Test helper: finds a top-level window by its title and reads or drives it
   from outside, the way a user or the system would.
     ui_inspect find <title> <timeout-ms>          prints hwnd, rectangles of the children (a bar
                                                   also its position and upper limit)
     ui_inspect watch <title> <timeout-ms>         prints every change of the progress dialog
     ui_inspect cancel <title>                     presses Cancel (command id 2)
     ui_inspect close <title>                      closes through the system menu
     ui_inspect key <title> <vk>                   a key pressed where the focus is (13 Enter,
                                                   27 Esc, 32 Space)
     ui_inspect text <title> <id>                  the whole text of a child (multi-line)
     ui_inspect ping <title>                       whether the window's thread answers
                                                   within a second ("answered=1")
     ui_inspect endsession <title> <0|1>           sends WM_ENDSESSION
   A title shared by a window and a box it owns finds the window (the one
   with the chainer's status line). find also prints the focused child.
   Exit code 0 on success, 1 when the window was not found. */
#include <windows.h>
#include <commctrl.h>
#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

/* Output as UTF-8, so that texts in any language reach the test whole. */
static void Out(const wchar_t* format, ...) {
    wchar_t text[4096];
    char bytes[16384];
    va_list args;
    int n;
    va_start(args, format);
    vswprintf(text, 4096, format, args);
    va_end(args);
    n = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof(bytes), NULL, NULL);
    if (n > 1) fwrite(bytes, 1, (size_t)(n - 1), stdout);
}

struct Search {
    const wchar_t* title;
    HWND found;
    HWND any;
};

static BOOL CALLBACK Match(HWND window, LPARAM context) {
    struct Search* search = (struct Search*)context;
    wchar_t cls[64], title[512];
    GetClassNameW(window, cls, 64);
    GetWindowTextW(window, title, 512);
    if (wcscmp(cls, L"#32770") != 0 || wcscmp(title, search->title) != 0) return TRUE;
    if (!search->any) search->any = window;
    if (GetDlgItem(window, 1034) || GetDlgItem(window, 1001)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static HWND FindByTitle(const wchar_t* title, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        struct Search search = {title, NULL, NULL};
        EnumWindows(Match, (LPARAM)&search);
        if (search.found) return search.found;
        if (search.any) return search.any;
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
    Out(L"child id=%d class=%ls rect=%ld,%ld,%ld,%ld visible=%d style=0x%08lx%ls text=%ls\n",
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
    GUITHREADINFO gui;
    gui.cbSize = sizeof(gui);
    int focus = 0;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, NULL), &gui) && gui.hwndFocus)
        focus = GetDlgCtrlID(gui.hwndFocus);
    Out(L"hwnd=0x%llx title=%ls window=%ld,%ld,%ld,%ld client=%ld,%ld owner=0x%llx focus=%d enabled=%d\n",
            (unsigned long long)(ULONG_PTR)window, title, w.left, w.top, w.right, w.bottom, c.right, c.bottom,
            (unsigned long long)(ULONG_PTR)GetWindow(window, GW_OWNER), focus, IsWindowEnabled(window) ? 1 : 0);
    EnumChildWindows(window, Child, (LPARAM)window);
}

static int Watch(HWND dialog, DWORD timeoutMs) {
    wchar_t last[2048] = L"", now[2048], text[512], detail[512], button[64];
    DWORD start = GetTickCount();
    HWND bar = GetDlgItem(dialog, 1035);
    while (IsWindow(dialog)) {
        DWORD_PTR pos = 0, high = 0, state = 0;
        text[0] = detail[0] = button[0] = 0;
        SendMessageTimeoutW(GetDlgItem(dialog, 1034), WM_GETTEXT, 512, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, NULL);
        SendMessageTimeoutW(GetDlgItem(dialog, 1036), WM_GETTEXT, 512, (LPARAM)detail, SMTO_ABORTIFHUNG, 2000, NULL);
        SendMessageTimeoutW(GetDlgItem(dialog, 2), WM_GETTEXT, 64, (LPARAM)button, SMTO_ABORTIFHUNG, 2000, NULL);
        SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &pos);
        SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 2000, &high);
        SendMessageTimeoutW(bar, PBM_GETSTATE, 0, 0, SMTO_ABORTIFHUNG, 2000, &state);
        swprintf(now, 2048, L"text=%ls|pos=%d|high=%d|state=%d|visible=%d|marquee=%d|detail=%ls|button=%ls", text,
                 (int)pos, (int)high, (int)state, IsWindowVisible(bar) ? 1 : 0,
                 (GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE) ? 1 : 0, detail, button);
        if (IsWindow(dialog) && wcscmp(now, last) != 0) {
            Out(L"%lu %ls\n", GetTickCount() - start, now);
            fflush(stdout);
            wcscpy(last, now);
        }
        if (GetTickCount() - start >= timeoutMs) {
            Out(L"%lu timeout\n", GetTickCount() - start);
            return 0;
        }
        Sleep(5);
    }
    Out(L"%lu gone\n", GetTickCount() - start);
    return 0;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    DWORD timeout = argc > 3 ? (DWORD)_wtoi(argv[3]) : 10000;
    HWND window = FindByTitle(argv[2], wcscmp(argv[1], L"find") == 0 || wcscmp(argv[1], L"watch") == 0 ? timeout : 2000);
    if (!window) {
        Out(L"not-found\n");
        fflush(stdout);
        return 1;
    }
    if (!wcscmp(argv[1], L"find")) {
        Describe(window);
    } else if (!wcscmp(argv[1], L"watch")) {
        return Watch(window, timeout);
    } else if (!wcscmp(argv[1], L"cancel")) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(window, IDCANCEL));
    } else if (!wcscmp(argv[1], L"key")) {
        /* Where the keyboard focus is, as the message loop would see it. */
        GUITHREADINFO gui;
        HWND target = window;
        UINT vk = argc > 3 ? (UINT)_wtoi(argv[3]) : VK_RETURN;
        gui.cbSize = sizeof(gui);
        if (GetGUIThreadInfo(GetWindowThreadProcessId(window, NULL), &gui) && gui.hwndFocus) target = gui.hwndFocus;
        PostMessageW(target, WM_KEYDOWN, vk, 1);
        PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
    } else if (!wcscmp(argv[1], L"text")) {
        static wchar_t text[16384];
        text[0] = 0;
        GetDlgItemTextW(window, argc > 3 ? _wtoi(argv[3]) : 1034, text, 16384);
        Out(L"%ls\n", text);
        fflush(stdout);
        return 0;
    } else if (!wcscmp(argv[1], L"ping")) {
        DWORD_PTR ignored;
        LRESULT answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored);
        Out(L"answered=%d\n", answered ? 1 : 0);
    } else if (!wcscmp(argv[1], L"close")) {
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (!wcscmp(argv[1], L"endsession")) {
        DWORD_PTR ignored;
        SendMessageTimeoutW(window, WM_ENDSESSION, (WPARAM)_wtoi(argv[3]), ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000,
                            &ignored);
    } else {
        return 2;
    }
    Out(L"ok\n");
    fflush(stdout);
    return 0;
}

/* Finds a message box by its caption, writes what it shows to a file and
 * presses one of its buttons.
 *   answer_box <caption> <yes|no|ok|esc|enter|close> <report-file> [timeout-ms [watched copy]]
 * esc and enter are keys pressed where the box's focus is, close is the
 * system menu's Close. A box shares its caption with the window that owns
 * it (the chainer's title): the box is the one without the chainer's
 * status line.
 * With watched and copy, the watched file is copied while the box is still
 * up, so that a test sees what had happened before the box was answered.
 * The report (UTF-8) has "text=", "caption=" and one line per visible standard
 * button present ("button=6" for Yes ...). Exit 0 when answered, 1 when no
 * box appeared in time. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

struct search {
    const wchar_t *caption;
    HWND found;
};

static BOOL CALLBACK match(HWND window, LPARAM context) {
    struct search *s = (struct search *)context;
    wchar_t cls[64], title[512];
    GetClassNameW(window, cls, 64);
    GetWindowTextW(window, title, 512);
    if (lstrcmpW(cls, L"#32770") || lstrcmpW(title, s->caption) || GetDlgItem(window, 1034) ||
        GetDlgItem(window, 1001) || !IsWindowVisible(window))
        return TRUE;
    s->found = window;
    return FALSE;
}

static HWND find_box(const wchar_t *caption) {
    struct search s = {caption, NULL};
    EnumWindows(match, (LPARAM)&s);
    return s.found;
}

static void put_utf8(HANDLE file, const char *text) {
    DWORD written;
    WriteFile(file, text, (DWORD)lstrlenA(text), &written, NULL);
}

static void put_wide(HANDLE file, const char *key, const wchar_t *text) {
    char buffer[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof(buffer), NULL, NULL);
    put_utf8(file, key);
    if (n > 0) put_utf8(file, buffer);
    put_utf8(file, "\n");
}

int wmain(int argc, wchar_t **argv) {
    static const int buttons[] = {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO};
    DWORD limit = argc > 4 ? (DWORD)_wtoi(argv[4]) : 30000;
    DWORD start = GetTickCount();
    HWND box = NULL;
    wchar_t text[2048];
    HANDLE report;
    int answer;
    size_t i;
    if (argc < 4) return 2;
    answer = lstrcmpiW(argv[2], L"yes") == 0 ? IDYES : lstrcmpiW(argv[2], L"ok") == 0 ? IDOK : IDNO;
    while (!(box = find_box(argv[1]))) {
        if (GetTickCount() - start > limit) return 1;
        Sleep(100);
    }
    Sleep(200); /* let the box finish its initialisation */
    report = CreateFileW(argv[3], GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (report != INVALID_HANDLE_VALUE) {
        text[0] = 0;
        GetDlgItemTextW(box, 0xFFFF, text, 2048);
        put_wide(report, "text=", text);
        GetWindowTextW(box, text, 2048);
        put_wide(report, "caption=", text);
        for (i = 0; i < sizeof(buttons) / sizeof(buttons[0]); ++i) {
            /* The default button, which Enter presses. */
            HWND button = GetDlgItem(box, buttons[i]);
            if (button && (GetWindowLongW(button, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON) {
                char line[32];
                sprintf(line, "default=%d\n", buttons[i]);
                put_utf8(report, line);
            }
        }
        for (i = 0; i < sizeof(buttons) / sizeof(buttons[0]); ++i) {
            HWND button = GetDlgItem(box, buttons[i]);
            if (button && IsWindowVisible(button)) {
                char line[32];
                sprintf(line, "button=%d\n", buttons[i]);
                put_utf8(report, line);
            }
        }
        CloseHandle(report);
    }
    if (argc > 6) CopyFileW(argv[5], argv[6], FALSE);
    if (lstrcmpiW(argv[2], L"esc") == 0 || lstrcmpiW(argv[2], L"enter") == 0) {
        GUITHREADINFO gui;
        HWND target = box;
        UINT vk = lstrcmpiW(argv[2], L"esc") == 0 ? VK_ESCAPE : VK_RETURN;
        gui.cbSize = sizeof(gui);
        if (GetGUIThreadInfo(GetWindowThreadProcessId(box, NULL), &gui) && gui.hwndFocus) target = gui.hwndFocus;
        PostMessageW(target, WM_KEYDOWN, vk, 1);
        PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
    } else if (lstrcmpiW(argv[2], L"close") == 0) {
        PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), (LPARAM)GetDlgItem(box, answer));
    }
    return 0;
}

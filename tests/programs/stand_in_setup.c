/* A stand-in for a setup program (and for other programs the chainer
 * starts). Its behaviour comes from a text file beside it named after the
 * executable with ".txt" (setup.exe -> setup.txt), one key=value per line:
 *   exit=<code>            exit code, decimal or 0x hex (default 0)
 *   exits=<c1>,<c2>,...    exit codes of the first, second, ... run (the last
 *   counter=<path>         one from then on), counted in the file counter
 *   record=<path>          append what the program saw to this file
 *   regkey=<key under HKCU> regvalue=<name> regdata=<text>
 *                          write a REG_SZ value before exiting
 *   sleep=<ms>             wait before exiting
 *   mutex=<name>           try to take the named mutex at once and record
 *                          "mutex=taken", "mutex=busy" or "mutex=missing"
 *   tamper=<path>          try to open the file for writing and record
 *                          "tamper=written" or "tamper=denied"
 *   movecwd=1              try to rename its current folder (and put it back)
 *                          and record "movecwd=moved" or "movecwd=denied"
 *   elevated=1             record "elevated=1" or "elevated=0" from its token
 *   readarg=1              read the file named by the last argument and
 *                          record its "URL=" line as "url=" ("url=unread"
 *                          when it cannot be read)
 * Without that file the behaviour is read from the executable's own bytes,
 * after its last line "#stand-in behaviour" (a copy carries it along).
 * Without a record key the environment variable CORVANE_STANDIN_RECORD names
 * the record file. The record is UTF-8: "exe=", "cmdline=", "cwd=", "end". */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char g_record[1024];
static char g_regkey[512];
static char g_regvalue[256];
static char g_regdata[1024];
static char g_mutex[256];
static char g_tamper[1024];
static unsigned long g_exit;
static char g_exits[256];
static char g_counter[1024];
static unsigned long g_sleep;
static unsigned long g_readarg;
static unsigned long g_movecwd;
static unsigned long g_elevated;

static void put_utf8(HANDLE file, const char *key, const wchar_t *text) {
    char buffer[8192];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof(buffer) - 2, NULL, NULL);
    DWORD written;
    if (n <= 0) n = 1;
    WriteFile(file, key, (DWORD)strlen(key), &written, NULL);
    WriteFile(file, buffer, (DWORD)(n - 1), &written, NULL);
    WriteFile(file, "\n", 1, &written, NULL);
}

static void apply_line(char *line) {
    char *eq = strchr(line, '=');
    char *end = line + strlen(line);
    while (end > line && (end[-1] == '\n' || end[-1] == '\r')) *--end = 0;
    if (!eq) return;
    *eq++ = 0;
    if (!strcmp(line, "exit")) g_exit = strtoul(eq, NULL, 0);
    else if (!strcmp(line, "exits")) lstrcpynA(g_exits, eq, sizeof(g_exits));
    else if (!strcmp(line, "counter")) lstrcpynA(g_counter, eq, sizeof(g_counter));
    else if (!strcmp(line, "sleep")) g_sleep = strtoul(eq, NULL, 0);
    else if (!strcmp(line, "record")) lstrcpynA(g_record, eq, sizeof(g_record));
    else if (!strcmp(line, "regkey")) lstrcpynA(g_regkey, eq, sizeof(g_regkey));
    else if (!strcmp(line, "regvalue")) lstrcpynA(g_regvalue, eq, sizeof(g_regvalue));
    else if (!strcmp(line, "regdata")) lstrcpynA(g_regdata, eq, sizeof(g_regdata));
    else if (!strcmp(line, "mutex")) lstrcpynA(g_mutex, eq, sizeof(g_mutex));
    else if (!strcmp(line, "tamper")) lstrcpynA(g_tamper, eq, sizeof(g_tamper));
    else if (!strcmp(line, "readarg")) g_readarg = strtoul(eq, NULL, 0);
    else if (!strcmp(line, "movecwd")) g_movecwd = strtoul(eq, NULL, 0);
    else if (!strcmp(line, "elevated")) g_elevated = strtoul(eq, NULL, 0);
}

/* The behaviour carried in the executable's own bytes. */
static void read_carried_config(const wchar_t *exe) {
    static const char marker[] = "\n#stand-in behaviour\n";
    static char data[4 << 20];
    size_t n, i, found = (size_t)-1;
    FILE *f = _wfopen(exe, L"rb");
    if (!f) return;
    n = fread(data, 1, sizeof(data) - 1, f);
    fclose(f);
    data[n] = 0;
    for (i = 0; i + sizeof(marker) - 1 <= n; ++i)
        if (!memcmp(data + i, marker, sizeof(marker) - 1)) found = i;
    if (found == (size_t)-1) return;
    {
        char *line = data + found + sizeof(marker) - 1;
        while (*line) {
            char *next = strchr(line, '\n');
            if (next) *next++ = 0;
            apply_line(line);
            if (!next) break;
            line = next;
        }
    }
}

static void read_config(void) {
    wchar_t path[MAX_PATH + 8];
    wchar_t exe[MAX_PATH + 8];
    DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    wchar_t *dot;
    char line[2048];
    FILE *f;
    if (n == 0 || n >= MAX_PATH) return;
    wcscpy(exe, path);
    dot = wcsrchr(path, L'.');
    if (dot && dot > wcsrchr(path, L'\\')) *dot = 0;
    wcscat(path, L".txt");
    f = _wfopen(path, L"rb");
    if (!f) {
        read_carried_config(exe);
        return;
    }
    while (fgets(line, sizeof(line), f)) apply_line(line);
    fclose(f);
}

/* The "URL=" line of the file named by the last argument of the command
 * line (quoted or not); "unread" when there is none. */
static void read_argument_url(wchar_t *url, size_t size) {
    wchar_t path[MAX_PATH * 2];
    const wchar_t *cmd = GetCommandLineW();
    const wchar_t *end = cmd + wcslen(cmd);
    const wchar_t *begin;
    char data[4096];
    char *found;
    size_t n;
    FILE *f;
    lstrcpynW(url, L"unread", (int)size);
    while (end > cmd && end[-1] == L' ') --end;
    if (end > cmd && end[-1] == L'"') {
        --end;
        begin = end;
        while (begin > cmd && begin[-1] != L'"') --begin;
    } else {
        begin = end;
        while (begin > cmd && begin[-1] != L' ') --begin;
    }
    if (end <= begin || (size_t)(end - begin) >= MAX_PATH * 2) return;
    memcpy(path, begin, (size_t)(end - begin) * sizeof(wchar_t));
    path[end - begin] = 0;
    f = _wfopen(path, L"rb");
    if (!f) return;
    n = fread(data, 1, sizeof(data) - 1, f);
    fclose(f);
    data[n] = 0;
    found = strstr(data, "URL=");
    if (!found) return;
    found += 4;
    found[strcspn(found, "\r\n")] = 0;
    MultiByteToWideChar(CP_ACP, 0, found, -1, url, (int)size);
}

int wmain(void) {
    wchar_t module[MAX_PATH];
    wchar_t cwd[MAX_PATH];
    const wchar_t *mutex_state = NULL;
    read_config();
    if (g_mutex[0]) {
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, g_mutex);
        if (!mutex) {
            mutex_state = L"missing";
        } else {
            DWORD wait = WaitForSingleObject(mutex, 0);
            mutex_state = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED ? L"taken" : L"busy";
            if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(mutex);
            CloseHandle(mutex);
        }
    }
    const wchar_t *tamper_state = NULL;
    if (g_tamper[0]) {
        HANDLE target = CreateFileA(g_tamper, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD written = 0;
        tamper_state = target != INVALID_HANDLE_VALUE && WriteFile(target, "MZ-swapped", 10, &written, NULL)
                           ? L"written" : L"denied";
        if (target != INVALID_HANDLE_VALUE) CloseHandle(target);
    }
    const wchar_t *movecwd_state = NULL;
    if (g_movecwd) {
        /* Renaming the folder it runs in, and the name taken back at once. */
        wchar_t here[MAX_PATH], aside[MAX_PATH + 8];
        DWORD n = GetCurrentDirectoryW(MAX_PATH, here);
        while (n > 3 && here[n - 1] == L'\\') here[--n] = 0;
        wcscpy(aside, here);
        wcscat(aside, L".moved");
        SetCurrentDirectoryW(L"C:\\");
        if (MoveFileW(here, aside)) {
            movecwd_state = L"moved";
            MoveFileW(aside, here);
        } else {
            movecwd_state = L"denied";
        }
        SetCurrentDirectoryW(here);
    }
    const wchar_t *elevated_state = NULL;
    if (g_elevated) {
        HANDLE token;
        TOKEN_ELEVATION elevation;
        DWORD size = 0;
        elevation.TokenIsElevated = 0;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
            CloseHandle(token);
        }
        elevated_state = elevation.TokenIsElevated ? L"1" : L"0";
    }
    wchar_t argument_url[2048];
    if (g_readarg) read_argument_url(argument_url, sizeof(argument_url) / sizeof(argument_url[0]));
    if (!g_record[0]) GetEnvironmentVariableA("CORVANE_STANDIN_RECORD", g_record, sizeof(g_record));
    if (g_record[0]) {
        HANDLE file = CreateFileA(g_record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            GetModuleFileNameW(NULL, module, MAX_PATH);
            GetCurrentDirectoryW(MAX_PATH, cwd);
            put_utf8(file, "exe=", module);
            put_utf8(file, "cmdline=", GetCommandLineW());
            put_utf8(file, "cwd=", cwd);
            if (mutex_state) put_utf8(file, "mutex=", mutex_state);
            if (tamper_state) put_utf8(file, "tamper=", tamper_state);
            if (g_readarg) put_utf8(file, "url=", argument_url);
            if (movecwd_state) put_utf8(file, "movecwd=", movecwd_state);
            if (elevated_state) put_utf8(file, "elevated=", elevated_state);
            put_utf8(file, "end", L"");
            CloseHandle(file);
        }
    }
    if (g_regkey[0]) {
        HKEY key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, g_regkey, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) == ERROR_SUCCESS) {
            RegSetValueExA(key, g_regvalue, 0, REG_SZ, (const BYTE *)g_regdata, (DWORD)strlen(g_regdata) + 1);
            RegCloseKey(key);
        }
    }
    if (g_sleep) Sleep(g_sleep);
    if (g_exits[0] && g_counter[0]) {
        /* The run's number, kept in the counter file, picks the code. */
        unsigned long run = 0, i;
        char number[32] = {0};
        const char *code = g_exits;
        DWORD n = 0;
        HANDLE counter = CreateFileA(g_counter, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, 0, NULL);
        if (counter != INVALID_HANDLE_VALUE) {
            if (ReadFile(counter, number, sizeof(number) - 1, &n, NULL)) run = strtoul(number, NULL, 10);
            SetFilePointer(counter, 0, NULL, FILE_BEGIN);
            n = (DWORD)wsprintfA(number, "%lu", run + 1);
            WriteFile(counter, number, n, &n, NULL);
            SetEndOfFile(counter);
            CloseHandle(counter);
        }
        for (i = 0; i < run && strchr(code, ','); ++i) code = strchr(code, ',') + 1;
        g_exit = strtoul(code, NULL, 0);
    }
    return (int)g_exit;
}

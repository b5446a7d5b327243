/* Test helper: runs a command line inside the prefix, waits up to a time
   limit and prints the full 32-bit exit code ("exit=<signed decimal>"), which
   Wine cannot hand to Linux whole.
   Usage: runexe <timeout-ms> <program> [arguments...]
   With CORVANE_RUN_LIMITED=1 in the environment the command runs with the
   linked (limited) token of an elevated administrator: a process whose token
   reads as not elevated. */
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fwprintf(stderr, L"usage: runexe <timeout-ms> <program> [args]\n");
        return 2;
    }
    DWORD timeout = (DWORD)_wtoi(argv[1]);
    /* Rebuild the command line after the first two arguments from the raw text. */
    wchar_t* raw = GetCommandLineW();
    int skipped = 0;
    int quoted = 0;
    while (*raw && skipped < 2) {
        if (*raw == L'"') quoted = !quoted;
        else if ((*raw == L' ' || *raw == L'\t') && !quoted) {
            while (raw[1] == L' ' || raw[1] == L'\t') ++raw;
            ++skipped;
        }
        ++raw;
    }
    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    wchar_t limited[8];
    BOOL created;
    if (GetEnvironmentVariableW(L"CORVANE_RUN_LIMITED", limited, 8) == 1 && limited[0] == L'1') {
        HANDLE token = NULL, primary = NULL;
        TOKEN_LINKED_TOKEN linked;
        DWORD size = 0;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ||
            !GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size) ||
            !DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, NULL, SecurityImpersonation, TokenPrimary,
                              &primary)) {
            printf("limited-token-failed=%lu\n", GetLastError());
            return 3;
        }
        created = CreateProcessAsUserW(primary, NULL, raw, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi);
    } else {
        created = CreateProcessW(NULL, raw, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi);
    }
    if (!created) {
        printf("createprocess-failed=%lu\n", GetLastError());
        return 3;
    }
    printf("pid=%lu\n", pi.dwProcessId);
    fflush(stdout);
    DWORD wait = WaitForSingleObject(pi.hProcess, timeout ? timeout : INFINITE);
    if (wait != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 0xDEAD);
        printf("timeout\n");
        return 4;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    printf("exit=%ld\n", (long)(LONG)code);
    return 0;
}

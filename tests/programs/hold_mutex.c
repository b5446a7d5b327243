/* Test helper: owns a named mutex for a time, then releases it.
   Usage: hold_mutex <name> <milliseconds> [abandon | keep <milliseconds>]
   With "abandon" the process ends while owning the mutex. With "keep" it
   releases the mutex, prints "released" and keeps its handle open for the
   second time, as the installer service keeps one. */
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    HANDLE mutex = CreateMutexW(NULL, TRUE, argv[1]);
    if (!mutex) {
        printf("create-failed=%lu\n", GetLastError());
        return 3;
    }
    printf("held\n");
    fflush(stdout);
    Sleep((DWORD)_wtoi(argv[2]));
    if (argc > 3 && wcscmp(argv[3], L"abandon") == 0) ExitProcess(0);
    ReleaseMutex(mutex);
    if (argc > 4 && wcscmp(argv[3], L"keep") == 0) {
        printf("released\n");
        fflush(stdout);
        Sleep((DWORD)_wtoi(argv[4]));
    }
    CloseHandle(mutex);
    return 0;
}

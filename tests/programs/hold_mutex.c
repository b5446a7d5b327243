/* Test helper: owns a named mutex for a time, then releases it.
   Usage: hold_mutex <name> <milliseconds> [abandon]
   With "abandon" the process ends while owning the mutex. */
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
    CloseHandle(mutex);
    return 0;
}

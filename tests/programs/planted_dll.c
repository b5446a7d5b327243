/* A DLL planted beside a program under the name of a system DLL. When any
   process loads it, it leaves "<its own path>.loaded" beside itself, holding
   the path of the program that loaded it, and refuses to stay loaded. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    wchar_t path[MAX_PATH + 16];
    wchar_t program[MAX_PATH];
    DWORD n;
    HANDLE file;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    n = GetModuleFileNameW(instance, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return FALSE;
    lstrcatW(path, L".loaded");
    file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written;
        n = GetModuleFileNameW(NULL, program, MAX_PATH);
        WriteFile(file, program, n * sizeof(wchar_t), &written, NULL);
        WriteFile(file, L"\r\n", 4, &written, NULL);
        CloseHandle(file);
    }
    return FALSE;
}

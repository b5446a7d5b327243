/* A process of the same user racing the chainer for a file: for a while it
 * keeps trying to put its own bytes into a file, the way a program of the
 * user could between the chainer's steps.
 * Usage: file_racer <milliseconds> <write|append> <path> <bytes-file>
 *   write:  open the file (shared with everyone) and write the bytes from
 *           its start whenever it can be opened for writing
 *   append: add the bytes at its end whenever it can be opened for appending
 * Prints "wrote=<count>" at the end: how often it got in. */
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

int wmain(int argc, wchar_t **argv) {
    static char bytes[1 << 20];
    DWORD size = 0, start, limit, wrote = 0;
    HANDLE source;
    int append;
    if (argc != 5) {
        fwprintf(stderr, L"usage: file_racer <ms> <write|append> <path> <bytes-file>\n");
        return 2;
    }
    limit = (DWORD)_wtoi(argv[1]);
    append = !wcscmp(argv[2], L"append");
    source = CreateFileW(argv[4], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (source == INVALID_HANDLE_VALUE || !ReadFile(source, bytes, sizeof bytes, &size, NULL)) return 3;
    CloseHandle(source);
    start = GetTickCount();
    while (GetTickCount() - start < limit) {
        HANDLE file = CreateFileW(argv[3], append ? FILE_APPEND_DATA : GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            if (WriteFile(file, bytes, size, &written, NULL) && written == size) ++wrote;
            CloseHandle(file);
        }
        Sleep(1);
    }
    printf("wrote=%lu\n", wrote);
    return 0;
}

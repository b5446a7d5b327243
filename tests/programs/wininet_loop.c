/* Benchmark baseline: the plainest synchronous WinINet download of a URL
 * into a file, read in steps of 51,200 bytes; with an offset, only the bytes
 * from there on (a range request).
 * Usage: wininet_loop <url> <target> [offset]; exits with 0 or the failing error. */
#include <windows.h>
#include <wininet.h>
#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
    static BYTE buffer[51200];
    HINTERNET root, request;
    HANDLE file;
    DWORD read = 0, written = 0;
    unsigned long long total = 0;
    wchar_t range[64] = L"";
    if (argc != 3 && argc != 4) {
        fwprintf(stderr, L"usage: wininet_loop <url> <target> [offset]\n");
        return 2;
    }
    if (argc == 4) _snwprintf(range, 63, L"Range: bytes=%ls-\r\n", argv[3]);
    root = InternetOpenW(L"Corvane", INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    if (!root) return (int)GetLastError();
    request = InternetOpenUrlW(root, argv[1], range[0] ? range : NULL, range[0] ? (DWORD)-1 : 0,
                               INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!request) return (int)GetLastError();
    file = CreateFileW(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return (int)GetLastError();
    for (;;) {
        if (!InternetReadFile(request, buffer, sizeof buffer, &read)) return (int)GetLastError();
        if (!read) break;
        if (!WriteFile(file, buffer, read, &written, NULL) || written != read) return (int)GetLastError();
        total += read;
    }
    CloseHandle(file);
    InternetCloseHandle(request);
    InternetCloseHandle(root);
    printf("bytes=%llu\n", total);
    return 0;
}

// Test program: drives the process-wide Logger directly.
//   log_probe threads <path> <threads> <lines>   many threads write at once
//   log_probe lines <path|-> <text>...           one line per text; "-" leaves
//                                                the path unset (fallbacks)
//   log_probe move <path1> <path2>               SetLogFile after the first line
//   log_probe nolog <path>                       a path, logging off, Close only
//   log_probe bench <path> <lines>               flushed Logger against a plain
//                                                unflushed writer; prints the ratio
//   log_probe acl <folder>                       prints the folder's access list:
//                                                "ace=<sid> mask=0x... flags=0x..."
// Prints "path=<stored path>" at the end (UTF-8) and exits with 0.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "log/log.h"
#include "log/logger_win.h"
#include "platform/win_util.h"

namespace {

struct ThreadArg {
    int index;
    int lines;
    HANDLE go;
};

DWORD WINAPI WriterThread(void* p) {
    ThreadArg* arg = static_cast<ThreadArg*>(p);
    WaitForSingleObject(arg->go, INFINITE);
    for (int j = 0; j < arg->lines; ++j) {
        WString line = Format(u"Writer:%d line %d ", arg->index, j);
        // Lines of different lengths make torn writes visible.
        for (int k = 0; k < (arg->index * 7 + j) % 40; ++k) line.Append(u'x');
        line.Append(u'|');
        TheLogger().WriteLine(line);
    }
    return 0;
}

void PrintPath() {
    NarrowText text;
    Narrow(TheLogger().Path(), &text, CP_UTF8);
    printf("path=%s\n", text.c_str());
    fflush(stdout);
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int Bench(const wchar_t* path, int lines) {
    LARGE_INTEGER frequency, t0, t1, t2;
    QueryPerformanceFrequency(&frequency);
    TheLogger().SetLogFile(WString(path));
    TheLogger().WriteLine(u"warm-up");  // opens the file and writes the banner
    QueryPerformanceCounter(&t0);
    for (int i = 0; i < lines; ++i) TheLogger().WriteLine(Format(u"Benchmark line:%d", i));
    QueryPerformanceCounter(&t1);

    // The same four writes per line into a second file, without flushing.
    WString plainPath = WString(path) + u".plain";
    HANDLE plain = CreateFileW(plainPath.wc(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (plain == INVALID_HANDLE_VALUE) return 1;
    for (int i = 0; i < lines; ++i) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        WString parts[4] = {Format(u"%04d-%02d-%02d %02d-%02d-%02d", (int)now.wYear, (int)now.wMonth, (int)now.wDay,
                                   (int)now.wHour, (int)now.wMinute, (int)now.wSecond),
                            WString(u"-"), Format(u"Benchmark line:%d", i), WString(u"\r\n")};
        for (const WString& part : parts) {
            DWORD written = 0;
            WriteFile(plain, part.c_str(), static_cast<DWORD>(part.Length() * 2), &written, nullptr);
        }
    }
    QueryPerformanceCounter(&t2);
    CloseHandle(plain);
    DeleteFileW(plainPath.wc());
    double flushed = Seconds(t0, t1, frequency), unflushed = Seconds(t1, t2, frequency);
    if (flushed <= 0 || unflushed <= 0) return 1;
    printf("flushed_lines_per_second=%.0f\nplain_lines_per_second=%.0f\nratio=%.2f\n", lines / flushed,
           lines / unflushed, (lines / unflushed) / (lines / flushed));
    return 0;
}

int DumpAccessList(const wchar_t* folder) {
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD rc = GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                                     nullptr, &descriptor);
    if (rc != ERROR_SUCCESS) {
        printf("error=%lu\n", rc);
        return 1;
    }
    printf("aces=%u\n", acl ? static_cast<unsigned>(acl->AceCount) : 0u);
    for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) continue;
        wchar_t* sid = nullptr;
        ConvertSidToStringSidW(&ace->SidStart, &sid);
        printf("ace=%ls type=%u mask=0x%08lx flags=0x%02x\n", sid ? sid : L"?", ace->Header.AceType,
               static_cast<unsigned long>(ace->Mask), ace->Header.AceFlags);
        if (sid) LocalFree(sid);
    }
    LocalFree(descriptor);
    fflush(stdout);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: log_probe threads|lines|move|nolog|bench ...\n");
        return 2;
    }
    const wchar_t* mode = argv[1];
    if (wcscmp(mode, L"acl") == 0) return DumpAccessList(argv[2]);
    LoggingEnabled = wcscmp(mode, L"nolog") != 0;
    int rc = 0;
    if (wcscmp(mode, L"threads") == 0 && argc >= 5) {
        TheLogger().SetLogFile(WString(argv[2]));
        int count = _wtoi(argv[3]);
        if (count < 1 || count > 64) return 2;
        HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ThreadArg args[64];
        HANDLE threads[64];
        for (int i = 0; i < count; ++i) {
            args[i] = {i, _wtoi(argv[4]), go};
            threads[i] = CreateThread(nullptr, 0, WriterThread, &args[i], 0, nullptr);
        }
        SetEvent(go);
        WaitForMultipleObjects(static_cast<DWORD>(count), threads, TRUE, INFINITE);
        for (int i = 0; i < count; ++i) CloseHandle(threads[i]);
        CloseHandle(go);
    } else if (wcscmp(mode, L"lines") == 0) {
        if (wcscmp(argv[2], L"-") != 0) TheLogger().SetLogFile(WString(argv[2]));
        for (int i = 3; i < argc; ++i) TheLogger().WriteLine(WString(argv[i]));
    } else if (wcscmp(mode, L"move") == 0 && argc >= 4) {
        TheLogger().SetLogFile(WString(argv[2]));
        TheLogger().WriteLine(u"first");
        TheLogger().SetLogFile(WString(argv[3]));
        TheLogger().WriteLine(u"second");
    } else if (wcscmp(mode, L"nolog") == 0) {
        TheLogger().SetLogFile(WString(argv[2]));
    } else if (wcscmp(mode, L"bench") == 0 && argc >= 4) {
        rc = Bench(argv[2], _wtoi(argv[3]));
    } else {
        return 2;
    }
    PrintPath();
    TheLogger().Close();
    // Lines after the end of the log are not written.
    TheLogger().WriteLine(u"after close");
    return rc;
}

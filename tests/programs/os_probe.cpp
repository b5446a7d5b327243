// Test program: prints how this process identifies the running Windows, one
// "key=value" per line, then the answers of the filters for the lists given:
//   os_probe [--filter WinNTVersions WinNT64Versions]... [--lang LanguageList]...
//            [--log path]
// With --log, logging is on and the language filter writes its line there.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "evaluation/os_filter.h"
#include "log/log.h"
#include "log/logger_win.h"
#include "platform/win_util.h"

static void Print(const char* key, const WString& value) {
    NarrowText text;
    Narrow(value, &text, CP_UTF8);
    printf("%s=%s\n", key, text.c_str());
}

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (wcscmp(argv[i], L"--log") == 0) {
            LoggingEnabled = true;
            TheLogger().SetLogFile(WString(argv[i + 1]));
        }
    }
    const OsInfo& os = GetOsInfo();
    printf("major=%u\nminor=%u\nbuild=%u\nsp=%u\nproducttype=%u\nsuite=0x%04x\nserver=%d\nx64=%d\nrelease=%u\n",
           os.MajorVersion, os.MinorVersion, os.BuildNumber, os.ServicePackMajor, os.ProductType, os.SuiteMask,
           os.IsServer ? 1 : 0, os.Is64BitOs ? 1 : 0, os.ReleaseId);
    Print("sptext", WString(os.ServicePackText));
    Print("detailed", OsDetailedName());
    Print("generic", OsGenericName());
    printf("langid=%u\n", static_cast<unsigned>(GetSystemDefaultLangID()));
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], L"--filter") == 0 && i + 2 < argc) {
            printf("filter=%d\n", OsFilterPasses(WString(argv[i + 1]), WString(argv[i + 2])) ? 1 : 0);
            i += 2;
        } else if (wcscmp(argv[i], L"--lang") == 0 && i + 1 < argc) {
            printf("lang=%d\n", LanguageFilterPasses(WString(argv[i + 1])) ? 1 : 0);
            i += 1;
        }
    }
    fflush(stdout);
    TheLogger().Close();
    return 0;
}

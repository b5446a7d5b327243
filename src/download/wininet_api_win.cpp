#include "download/wininet_api_win.h"

#include "platform/system_library_win.h"

namespace {

WinInetApi table;
volatile LONG tableState = 0;  // 0 not resolved, 1 resolving, 2 ready

template <typename Fn>
void Resolve(HMODULE module, const char* name, Fn* slot, bool* missing) {
    *slot = ModuleFunction<Fn>(module, name);
    if (!*slot) *missing = true;
}

void ResolveTable() {
    HMODULE module = SystemLibrary(L"wininet.dll");
    if (!module) {
        table.error = ERROR_MOD_NOT_FOUND;
        return;
    }
    bool missing = false;
    Resolve(module, "InternetOpenW", &table.Open, &missing);
    Resolve(module, "InternetConnectW", &table.Connect, &missing);
    Resolve(module, "InternetSetStatusCallbackW", &table.SetStatusCallback, &missing);
    Resolve(module, "InternetCloseHandle", &table.CloseHandle, &missing);
    Resolve(module, "InternetCrackUrlW", &table.CrackUrl, &missing);
    Resolve(module, "InternetCombineUrlW", &table.CombineUrl, &missing);
    Resolve(module, "InternetGetLastResponseInfoW", &table.GetLastResponseInfo, &missing);
    Resolve(module, "InternetQueryOptionW", &table.QueryOption, &missing);
    Resolve(module, "InternetSetOptionW", &table.SetOption, &missing);
    Resolve(module, "InternetQueryDataAvailable", &table.QueryDataAvailable, &missing);
    Resolve(module, "InternetReadFile", &table.ReadFile, &missing);
    Resolve(module, "InternetReadFileExA", &table.ReadFileEx, &missing);
    Resolve(module, "HttpOpenRequestW", &table.HttpOpenRequest, &missing);
    Resolve(module, "HttpSendRequestW", &table.HttpSendRequest, &missing);
    Resolve(module, "HttpQueryInfoW", &table.HttpQueryInfo, &missing);
    Resolve(module, "FtpCommandW", &table.FtpCommand, &missing);
    Resolve(module, "FtpOpenFileW", &table.FtpOpenFile, &missing);
    Resolve(module, "FtpGetFileSize", &table.FtpGetFileSize, &missing);
    if (missing) table.error = ERROR_PROC_NOT_FOUND;
}

}  // namespace

const WinInetApi& WinInet() {
    if (InterlockedCompareExchange(&tableState, 1, 0) == 0) {
        ResolveTable();
        InterlockedExchange(&tableState, 2);
    } else {
        while (InterlockedCompareExchange(&tableState, 2, 2) != 2) Sleep(1);
    }
    return table;
}

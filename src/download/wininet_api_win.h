// The WinINet functions the transfers use, looked up once in the system
// folder's wininet.dll (never a static import). When the DLL or one of the
// functions is missing, error says why and every transfer fails with it.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "platform/unique_handle_win.h"

struct WinInetApi {
    DWORD error;  // 0, ERROR_MOD_NOT_FOUND or ERROR_PROC_NOT_FOUND
    decltype(&::InternetOpenW) Open;
    decltype(&::InternetConnectW) Connect;
    decltype(&::InternetSetStatusCallbackW) SetStatusCallback;
    decltype(&::InternetCloseHandle) CloseHandle;
    decltype(&::InternetCrackUrlW) CrackUrl;
    decltype(&::InternetCombineUrlW) CombineUrl;
    decltype(&::InternetGetLastResponseInfoW) GetLastResponseInfo;
    decltype(&::InternetQueryOptionW) QueryOption;
    decltype(&::InternetSetOptionW) SetOption;
    decltype(&::InternetQueryDataAvailable) QueryDataAvailable;
    decltype(&::InternetReadFile) ReadFile;
    decltype(&::InternetReadFileExA) ReadFileEx;
    decltype(&::HttpOpenRequestW) HttpOpenRequest;
    decltype(&::HttpSendRequestW) HttpSendRequest;
    decltype(&::HttpQueryInfoW) HttpQueryInfo;
    decltype(&::FtpCommandW) FtpCommand;
    decltype(&::FtpOpenFileW) FtpOpenFile;
    decltype(&::FtpGetFileSize) FtpGetFileSize;
};

// The table, resolved on first use.
const WinInetApi& WinInet();

// One WinINet handle: closing removes its status callback first, so that no
// notification of the closing reaches a transfer that has moved on.
struct InternetHandleTraits {
    typedef HINTERNET Type;
    static Type Empty() { return nullptr; }
    static bool IsNone(Type h) { return h == nullptr; }
    static void Close(Type h) {
        WinInet().SetStatusCallback(h, nullptr);
        WinInet().CloseHandle(h);
    }
};
typedef UniqueHandleT<InternetHandleTraits> UniqueInternet;

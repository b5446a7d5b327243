// What the parts of FileTransfer share: the state of the asynchronous call
// in flight, the call pattern itself and the cracked URL. Private to the
// file_transfer_*_win.cpp files.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "base/fatal.h"
#include "base/wstr.h"
#include "download/file_transfer_win.h"
#include "download/url_for_log.h"
#include "log/log.h"
#include "platform/unique_handle_win.h"

// How often a waiting call looks at the observer's cancellation.
constexpr DWORD kTransferPollMilliseconds = 10;

// A broken connection, or an answer that settles nothing (E_DL_INCOMPLETE):
// the transfer resumes it.
bool IsReconnectError(ResultCode error);
// Nothing came for the no-data limit (ours, or WinINet's own timeout).
bool IsStall(ResultCode error);
// A log line of bytes held of a total: "<prefix><held> of <total>".
WString HeldLine(const char16_t* prefix, uint64_t held, uint64_t total);

// Written by the status callback on WinINet's threads, read by the transfer
// thread only after completed is set or an event is signalled. requestDone
// is an auto-reset event that only wakes the waiting thread: the completed
// flag, set before it, is what tells that the call finished, so a wake that
// comes late or twice is harmless and no completion is lost.
struct TransferAsyncState {
    volatile LONG pendingOperation = FileTransfer::OP_CONNECT;
    volatile LONG completed = 0;
    volatile DWORD completionError = 0;
    volatile DWORD_PTR completionResult = 0;
    HINTERNET volatile handle = nullptr;  // delivered by a handle-yielding call
    WString lastResponse;
    UniqueHandle requestDone;
    UniqueHandle handleClosed;
    // The last call went pending; a call was left pending by a cancellation.
    bool pended = false;
    bool pendingLeft = false;
    // Outputs of pending WinINet calls and the receive buffer: WinINet may
    // write them until the request handle has closed.
    DWORD availableOut = 0;
    DWORD readOut = 0;
    INTERNET_BUFFERSA readBuffers = {};
    BYTE* buffer = nullptr;

    ~TransferAsyncState() { MemFree(buffer); }
    bool Completed() { return InterlockedCompareExchange(&completed, 0, 0) != 0; }
};

// Reads the server's last answer on the control connection into the state.
void FetchLastResponse(TransferAsyncState* state);

// The cracked parts of one URL; user name and password percent-decoded.
struct FileTransfer::UrlParts {
    INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
    WString host;
    INTERNET_PORT port = 0;
    WString user;
    WString password;
    WString path;
    WString extra;
};

template <typename Call>
ResultCode FileTransfer::RunAsync(int operation, bool yieldsHandle, Call call) {
    TransferAsyncState* state = async_.Get();
    if (!state) return ERROR_NOT_ENOUGH_MEMORY;
    InterlockedExchange(&state->pendingOperation, operation);
    InterlockedExchange(&state->completed, 0);
    state->completionError = 0;
    state->completionResult = 0;
    if (yieldsHandle) state->handle = nullptr;
    state->pended = false;
    SetLastError(0);
    if (call()) {
        // Finished at once: the completion record reads as a success. No
        // event is touched, the callback does not run for it.
        state->completionResult = TRUE;
        return kResultOk;
    }
    ResultCode error = GetLastError();
    // A call that yields a handle and reports no error has been queued
    // (some WinINet versions do not set ERROR_IO_PENDING for it).
    if (yieldsHandle && error == 0) error = ERROR_IO_PENDING;
    if (error != ERROR_IO_PENDING) return error ? error : ERROR_INTERNET_INTERNAL_ERROR;
    state->pended = true;
    const DWORD start = GetTickCount();
    while (!state->Completed()) {
        if (Cancelled()) {
            state->pendingLeft = true;
            return E_DL_CANCELLED;
        }
        if (GetTickCount() - start >= kNoDataLimitMs) {
            // Nothing came for too long: the call is dropped with its request.
            state->pendingLeft = true;
            if (LoggingEnabled) LogLine(Format(u"No data received for (ms):%u, the connection is dropped:", kNoDataLimitMs) + UrlForLog(url_));
            return E_DL_STALLED;
        }
        WaitForSingleObject(state->requestDone.Get(), kTransferPollMilliseconds);
    }
    if (yieldsHandle && !state->handle)
        return state->completionError ? state->completionError : ERROR_INTERNET_INTERNAL_ERROR;
    return kResultOk;
}

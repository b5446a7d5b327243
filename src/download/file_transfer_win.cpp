#include "download/file_transfer_win.h"

#include <winnetwk.h>

#include "base/fatal.h"
#include "download/transfer_rules.h"
#include "download/url_for_log.h"
#include "download/wininet_api_win.h"
#include "log/log.h"
#include "platform/fileops_win.h"
#include "platform/protected_folder_win.h"
#include "platform/system_library_win.h"
#include "platform/win_util.h"

namespace {

constexpr DWORD kPollMilliseconds = 10;
constexpr DWORD kCopyReportMilliseconds = 200;
// How long closing waits for WinINet to finish with a handle whose call was
// left pending by a cancellation (a server that stopped sending may never
// complete it), and for a handle that such a call was still creating.
constexpr DWORD kClosingWaitMilliseconds = 1000;
constexpr DWORD kAbandonedCallWaitMilliseconds = 500;

// Winsock's own codes of a connection that was aborted or reset, which Wine's
// WinINet may hand on unchanged.
constexpr DWORD kSocketConnectionAborted = 10053;
constexpr DWORD kSocketConnectionReset = 10054;

bool IsReconnectError(DWORD error) {
    return error == ERROR_INTERNET_TIMEOUT || error == ERROR_INTERNET_CONNECTION_ABORTED ||
           error == ERROR_INTERNET_CONNECTION_RESET || error == ERROR_INTERNET_DISCONNECTED ||
           error == kSocketConnectionAborted || error == kSocketConnectionReset;
}

bool IsCertificateError(DWORD error) {
    return error == ERROR_INTERNET_SEC_CERT_DATE_INVALID || error == ERROR_INTERNET_SEC_CERT_CN_INVALID ||
           error == ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED || error == ERROR_INTERNET_INVALID_CA;
}

// The security flag that lets a request pass once its certificate problem was
// accepted; 0 when no flag covers the problem.
DWORD IgnoreFlagFor(DWORD error) {
    switch (error) {
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID: return SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
        case ERROR_INTERNET_SEC_CERT_CN_INVALID: return SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
        case ERROR_INTERNET_INVALID_CA: return SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        default: return 0;
    }
}

// A string with room for a cracked URL component.
wchar_t* ComponentBuffer(WString* text, int capacity) { return text->GetWBuffer(capacity); }

// Waits until flag is set, at most timeout milliseconds.
bool WaitForFlag(volatile LONG* flag, HANDLE wake, DWORD timeout) {
    const DWORD start = GetTickCount();
    while (!InterlockedCompareExchange(flag, 0, 0)) {
        if (GetTickCount() - start >= timeout) return false;
        WaitForSingleObject(wake, kPollMilliseconds);
    }
    return true;
}

// The size of an open file; false when it cannot be read.
bool FileSize64(HANDLE file, uint64_t* size) {
    DWORD high = 0;
    SetLastError(0);
    DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    *size = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}

// The size of an open file; false when it is 4 GiB or more or unknown.
bool FileSize32(HANDLE file, uint32_t* size) {
    DWORD high = 0;
    SetLastError(0);
    DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    if (high) return false;
    *size = low;
    return true;
}

void LogTooLarge(const WString& url) {
    if (LoggingEnabled) LogLine(u"Download refused, the file is 4 GiB or larger:" + UrlForLog(url));
}

}  // namespace

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
    BYTE* buffer = nullptr;

    ~TransferAsyncState() { MemFree(buffer); }
    bool Completed() { return InterlockedCompareExchange(&completed, 0, 0) != 0; }
};

namespace {

void FetchLastResponse(TransferAsyncState* state) {
    DWORD capacity = 1000;
    for (int attempt = 0; attempt < 4; ++attempt) {
        WString text;
        DWORD error = 0;
        DWORD length = capacity;
        wchar_t* buffer = text.GetWBuffer(static_cast<int>(capacity));
        if (WinInet().GetLastResponseInfo(&error, buffer, &length)) {
            text.ReleaseBuffer(static_cast<int>(length < capacity ? length : capacity));
            state->lastResponse = text;
            return;
        }
        text.ReleaseBuffer(0);
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || length <= capacity) return;
        capacity = length + 1;
    }
}

void CALLBACK StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
    TransferAsyncState* state = reinterpret_cast<TransferAsyncState*>(context);
    if (!state) return;
    if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        SetEvent(state->handleClosed.Get());
        return;
    }
    if (status != INTERNET_STATUS_REQUEST_COMPLETE || !info) return;
    const INTERNET_ASYNC_RESULT* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
    state->completionError = result->dwError;
    state->completionResult = result->dwResult;
    switch (state->pendingOperation) {
        case FileTransfer::OP_READ:
        case FileTransfer::OP_SEND_REQUEST:
        case FileTransfer::OP_QUERY_AVAILABLE:
            break;
        case FileTransfer::OP_FTP_COMMAND:
            FetchLastResponse(state);
            break;
        default:
            state->handle = reinterpret_cast<HINTERNET>(result->dwResult);
            FetchLastResponse(state);
            break;
    }
    InterlockedExchange(&state->completed, 1);
    SetEvent(state->requestDone.Get());
}

// A header of the answer as text; empty when absent. A longer value than
// the buffer is read again with the size WinINet asks for.
WString QueryHeader(HINTERNET request, DWORD header) {
    DWORD capacity = 256;
    for (int attempt = 0; attempt < 4; ++attempt) {
        WString text;
        DWORD bytes = capacity * sizeof(wchar_t);
        wchar_t* buffer = text.GetWBuffer(static_cast<int>(capacity));
        const BOOL ok = WinInet().HttpQueryInfo(request, header, buffer, &bytes, nullptr);
        const DWORD units = bytes / sizeof(wchar_t);
        text.ReleaseBuffer(ok ? static_cast<int>(units < capacity ? units : capacity) : 0);
        if (ok) return text;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || units < capacity) break;
        capacity = units + 1;
    }
    return WString();
}

}  // namespace

void InternetHandle::Reset(HINTERNET h) {
    if (h_) {
        WinInet().SetStatusCallback(h_, nullptr);
        WinInet().CloseHandle(h_);
    }
    h_ = h;
}

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

FileTransfer::FileTransfer(TransferObserver* observer, CredentialStore* credentials)
    : observer_(observer), credentials_(credentials) {}

FileTransfer::~FileTransfer() { CloseAll(); }

DWORD CALLBACK LocalCopyProgress(LARGE_INTEGER totalFileSize, LARGE_INTEGER totalTransferred, LARGE_INTEGER, LARGE_INTEGER,
                            DWORD, DWORD reason, HANDLE, HANDLE, LPVOID data) {
    LocalCopyContext* copy = static_cast<LocalCopyContext*>(data);
    if (reason == CALLBACK_STREAM_SWITCH) {
        copy->running = 0;
        copy->reported = 0;
        copy->lastReportTick = 0;
        copy->lastTransferred = 0;
        copy->total = static_cast<uint32_t>(totalFileSize.QuadPart);
        if (copy->observer) copy->observer->OnTransferStarted(kStartedStream, copy->total, WString());
    }
    if (copy->observer && copy->observer->IsCancelled()) return PROGRESS_CANCEL;
    uint64_t transferred = static_cast<uint64_t>(totalTransferred.QuadPart);
    if (transferred > copy->lastTransferred) {
        copy->running += static_cast<uint32_t>(transferred - copy->lastTransferred);
        copy->lastTransferred = transferred;
    }
    DWORD now = GetTickCount();
    if (now - copy->lastReportTick >= kCopyReportMilliseconds || copy->running >= copy->total) {
        if (copy->observer && copy->running != copy->reported) copy->observer->OnProgress(copy->running - copy->reported);
        copy->lastReportTick = now;
        copy->reported = copy->running;
    }
    return PROGRESS_CONTINUE;
}

// ---------------------------------------------------------------------------
// Observer

bool FileTransfer::Cancelled() { return observer_ && observer_->IsCancelled(); }

uint32_t FileTransfer::Ask(const WString& context, uint32_t code, void* handle) {
    if (!observer_) return code;
    return observer_->OnError(context, code, handle);
}

WString FileTransfer::TargetFileName() const {
    int slash = targetPath_.FindLastChar(u'\\');
    return slash < 0 ? targetPath_ : targetPath_.Mid(slash + 1);
}

// The one credential question of HTTP, FTP and network shares: true when the
// observer entered a user name into the store.
bool FileTransfer::AskForCredentials(const char16_t* description) {
    if (description && credentials_) credentials_->description = description;
    uint32_t answer = Ask(url_, E_DL_AUTH_REQUIRED, credentials_);
    return observer_ && answer == kAnswerCredentialsEntered && credentials_ && !credentials_->userName.IsEmpty();
}

bool FileTransfer::PauseUnlessCancelled(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (Cancelled()) return false;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds) return true;
        DWORD left = milliseconds - elapsed;
        Sleep(left < kPollMilliseconds ? left : kPollMilliseconds);
    }
}

// ---------------------------------------------------------------------------
// Asynchronous call pattern

template <typename Call>
DWORD FileTransfer::RunAsync(int operation, bool yieldsHandle, Call call) {
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
        return 0;
    }
    DWORD error = GetLastError();
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
        if (GetTickCount() - start >= noDataLimitMs_) {
            // Nothing came for too long: the call is dropped with its request.
            state->pendingLeft = true;
            if (LoggingEnabled) LogLine(Format(u"No data received for (ms):%u, the connection is dropped:", noDataLimitMs_) + UrlForLog(url_));
            return E_DL_STALLED;
        }
        WaitForSingleObject(state->requestDone.Get(), kPollMilliseconds);
    }
    if (yieldsHandle && !state->handle)
        return state->completionError ? state->completionError : ERROR_INTERNET_INTERNAL_ERROR;
    return 0;
}

HINTERNET FileTransfer::TakeHandle() {
    HINTERNET h = async_->handle;
    async_->handle = nullptr;
    return h;
}

// ---------------------------------------------------------------------------
// Handles

namespace {

TransferAsyncState* NewAsyncState() {
    TransferAsyncState* state = new TransferAsyncState;
    state->requestDone.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    state->handleClosed.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (state->requestDone && state->handleClosed) return state;
    delete state;
    return nullptr;
}

}  // namespace

DWORD FileTransfer::OpenRoot() {
    CloseAll();
    async_ = Owned<TransferAsyncState>(NewAsyncState());
    if (!async_) return ERROR_NOT_ENOUGH_MEMORY;
    root_.Reset(WinInet().Open(L"Corvane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC));
    if (!root_) return GetLastError();
    WinInet().SetStatusCallback(root_.Get(), &StatusCallback);
    DWORD limit = kNoDataLimitMs;
    const DWORD timeouts[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                              INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                              INTERNET_OPTION_DATA_RECEIVE_TIMEOUT};
    for (DWORD option : timeouts) WinInet().SetOption(root_.Get(), option, &limit, sizeof limit);
    return 0;
}

// Closes the request handle and waits until WinINet has finished with it. A
// call left pending by a cancellation ends with the close; when it does not
// report back in time (a server that stopped sending), the shared state is
// left behind for WinINet and the transfer goes on without waiting more.
void FileTransfer::CloseRequest() {
    TransferAsyncState* state = async_.Get();
    if (!state) return;
    HINTERNET request = request_.Detach();
    bool settled = true;
    if (state->pendingLeft && !request) {
        // A cancelled call may still deliver a handle: close it here rather
        // than let it report to a transfer that is gone.
        if (WaitForFlag(&state->completed, state->requestDone.Get(), kAbandonedCallWaitMilliseconds)) {
            InternetHandle late;
            late.Reset(TakeHandle());
        } else {
            settled = false;
        }
    }
    if (request) {
        ResetEvent(state->handleClosed.Get());
        WinInet().CloseHandle(request);
        const HANDLE closed = state->handleClosed.Get();
        settled = WaitForSingleObject(closed, kClosingWaitMilliseconds) == WAIT_OBJECT_0;
        if (settled && state->pendingLeft)
            settled = WaitForFlag(&state->completed, state->requestDone.Get(), kAbandonedCallWaitMilliseconds);
    }
    state->pendingLeft = false;
    // Left to WinINet: the transfer goes on with a state of its own.
    if (!settled) {
        (void)async_.Release();
        async_ = Owned<TransferAsyncState>(NewAsyncState());
    }
}

void FileTransfer::CloseAll() {
    CloseRequest();
    connection_.Reset();
    root_.Reset();
    async_ = Owned<TransferAsyncState>();
}

// ---------------------------------------------------------------------------
// Download

DWORD FileTransfer::CheckUrl() {
    URL_COMPONENTSW parts;
    ZeroMemory(&parts, sizeof parts);
    parts.dwStructSize = sizeof parts;
    if (!WinInet().CrackUrl(url_.wc(), 0, 0, &parts)) return GetLastError();
    switch (parts.nScheme) {
        case INTERNET_SCHEME_FTP:
        case INTERNET_SCHEME_HTTP:
        case INTERNET_SCHEME_HTTPS:
        case INTERNET_SCHEME_FILE:
            return 0;
        default:
            return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    }
}

uint32_t FileTransfer::Download(const WString& url, const WString& targetPath) {
    url_ = url;
    targetPath_ = targetPath;
    partPath_ = targetPath + u".part";

    DWORD result = WinInet().error;
    if (!result) result = CheckUrl();
    if (result) {
        Report(WString(), result);
        return result;
    }
    result = OpenRoot();
    if (result) {
        CloseAll();
        return result;
    }
    if (!IsAbsoluteTargetPath(targetPath_)) {
        Report(WString(), E_DL_BAD_TARGET);
        CloseAll();
        return E_DL_BAD_TARGET;
    }

    verifiedWhileWriting_ = false;
    protectedWhileWriting_ = false;
    written_ = FileIdentity();
    uint32_t bytesHeld = 0;
    {
        UniqueFile part(CreateFileW(partPath_.wc(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        uint64_t held = 0;
        // A part file whose size cannot be read is started again from zero.
        if (part && FileSize64(part.Get(), &held) && held > kLargestFile) {
            // Sizes are 32-bit: appending to it would write at the wrong offset.
            LogTooLarge(url_);
            Report(TargetFileName(), E_DL_FILE_TOO_LARGE);
            CloseAll();
            return E_DL_FILE_TOO_LARGE;
        }
        if (held <= kLargestFile) bytesHeld = static_cast<uint32_t>(held);
    }

    uint32_t total = 0;
    result = OpenFirstTime(&bytesHeld, &total);
    if (Cancelled()) {
        result = E_DL_CANCELLED;
    } else if (result) {
        if (result == E_DL_FILE_TOO_LARGE) LogTooLarge(url_);
        if (result != E_DL_NOT_MODIFIED) Report(TargetFileName(), result);
    } else if (expectedSize_ && total && total != expectedSize_) {
        result = E_DL_SIZE_MISMATCH;
        Report(TargetFileName(), result);
    } else if (sourceKind_ == kSourceLocalFile) {
        result = LocalCopy();
    } else {
        result = ReceiveLoop(total, bytesHeld);
    }
    CloseAll();
    return result;
}

// A connection that ends or stalls before the answer is there is tried
// again after a growing pause, as often as the receive loop resumes one.
DWORD FileTransfer::OpenFirstTime(uint32_t* bytesHeld, uint32_t* total) {
    const uint32_t held = *bytesHeld;
    DWORD result = 0;
    for (int attempt = 0;; ++attempt) {
        *bytesHeld = held;
        result = OpenSourceWithRetries(bytesHeld, total);
        if (!IsReconnectError(result) && result != E_DL_STALLED) return result;
        if (attempt >= ReconnectStallGuard::kMaxStalledReconnects) break;
        if (LoggingEnabled) LogLine(Format(u"Connection ended early, resuming at:%u", held));
        if (!PauseUnlessCancelled(ResumePauseMs(attempt))) return E_DL_CANCELLED;
    }
    if (LoggingEnabled) LogLine(Format(u"Download still incomplete after resuming, bytes held:%u of %u", held, *total));
    return result == E_DL_STALLED ? E_DL_STALLED : E_DL_INCOMPLETE;
}

DWORD FileTransfer::OpenSourceWithRetries(uint32_t* bytesHeld, uint32_t* total) {
    int retriesLeft = retryBudget_;
    int serverRetries = 0;
    for (;;) {
        retryAfter_.Clear();
        DWORD result = OpenUrl(bytesHeld, total);
        if ((result == ERROR_INTERNET_NAME_NOT_RESOLVED || result == ERROR_INTERNET_CANNOT_CONNECT) && retriesLeft > 0) {
            --retriesLeft;
            continue;
        }
        if (result == E_DL_SERVER_UNAVAILABLE && serverRetries < kServerRetries) {
            // The server is busy or failing for a moment: come back after a
            // short pause that grows with each attempt.
            const DWORD pause = ServerRetryPauseMs(serverRetries, retryAfter_);
            ++serverRetries;
            if (LoggingEnabled) LogLine(Format(u"Server unavailable, retrying in (ms):%u", pause));
            if (!PauseUnlessCancelled(pause)) return E_DL_CANCELLED;
            continue;
        }
        return result;
    }
}

DWORD FileTransfer::OpenUrl(uint32_t* bytesHeld, uint32_t* total) {
    const int capacity = url_.Length() + 1;
    UrlParts url;
    WString user, password;
    URL_COMPONENTSW parts;
    ZeroMemory(&parts, sizeof parts);
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = ComponentBuffer(&url.host, capacity);
    parts.dwHostNameLength = static_cast<DWORD>(capacity);
    parts.lpszUserName = ComponentBuffer(&user, capacity);
    parts.dwUserNameLength = static_cast<DWORD>(capacity);
    parts.lpszPassword = ComponentBuffer(&password, capacity);
    parts.dwPasswordLength = static_cast<DWORD>(capacity);
    parts.lpszUrlPath = ComponentBuffer(&url.path, capacity);
    parts.dwUrlPathLength = static_cast<DWORD>(capacity);
    parts.lpszExtraInfo = ComponentBuffer(&url.extra, capacity);
    parts.dwExtraInfoLength = static_cast<DWORD>(capacity);
    BOOL cracked = WinInet().CrackUrl(url_.wc(), 0, 0, &parts);
    DWORD error = cracked ? 0 : GetLastError();
    url.host.ReleaseBuffer(cracked ? static_cast<int>(parts.dwHostNameLength) : 0);
    user.ReleaseBuffer(cracked ? static_cast<int>(parts.dwUserNameLength) : 0);
    password.ReleaseBuffer(cracked ? static_cast<int>(parts.dwPasswordLength) : 0);
    url.path.ReleaseBuffer(cracked ? static_cast<int>(parts.dwUrlPathLength) : 0);
    url.extra.ReleaseBuffer(cracked ? static_cast<int>(parts.dwExtraInfoLength) : 0);
    if (!cracked) return error;
    url.scheme = parts.nScheme;
    url.port = parts.nPort;
    url.user = PercentDecode(user);
    url.password = PercentDecode(password);

    switch (url.scheme) {
        case INTERNET_SCHEME_FTP:
            sourceKind_ = kSourceInternet;
            return FtpRequest(url, bytesHeld, total);
        case INTERNET_SCHEME_HTTP:
        case INTERNET_SCHEME_HTTPS:
            sourceKind_ = kSourceInternet;
            return HttpRequest(url, url.scheme == INTERNET_SCHEME_HTTPS, bytesHeld, total);
        case INTERNET_SCHEME_FILE:
            return FileSource(url, bytesHeld, total);
        default:
            return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    }
}

// ---------------------------------------------------------------------------
// HTTP and HTTPS

// Connects (once) and opens a GET request on the connection.
DWORD FileTransfer::HttpOpen(const UrlParts& url, bool secure) {
    if (!connection_) {
        const wchar_t* user = url.user.IsEmpty() ? nullptr : url.user.wc();
        const wchar_t* password = url.password.IsEmpty() ? nullptr : url.password.wc();
        DWORD result = RunAsync(OP_CONNECT, true, [&]() -> BOOL {
            HINTERNET h = WinInet().Connect(root_.Get(), url.host.wc(), url.port, user, password, INTERNET_SERVICE_HTTP,
                                            0, Context());
            if (h) async_->handle = h;
            return h != nullptr;
        });
        connection_.Reset(TakeHandle());
        if (result) return result;
    }
    WString object = url.path + url.extra;
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                  INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
    if (secure) flags |= INTERNET_FLAG_SECURE;
    const wchar_t* acceptTypes[] = {L"*/*", nullptr};
    DWORD result = RunAsync(OP_OPEN_REQUEST, true, [&]() -> BOOL {
        HINTERNET h = WinInet().HttpOpenRequest(connection_.Get(), L"GET", object.wc(), L"HTTP/1.0", L"", acceptTypes,
                                                flags, Context());
        if (h) async_->handle = h;
        return h != nullptr;
    });
    request_.Reset(TakeHandle());
    return result;
}

// Reads what the transfer judges of the answer to the request just sent.
DWORD FileTransfer::HttpAnswerOf(uint32_t bytesHeld, DWORD sendError, HttpAnswer* answer) {
    answer->bytesHeld = bytesHeld;
    answer->sendError = sendError;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinInet().HttpQueryInfo(request_.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                                 nullptr)) {
        // A send that failed has no status; its own error tells what went wrong.
        if (!sendError) return GetLastError();
        status = 0;
    }
    answer->status = status;
    if (status) {
        answer->length = ContentLengthValue(QueryHeader(request_.Get(), HTTP_QUERY_CONTENT_LENGTH));
        answer->range = ParseContentRange(QueryHeader(request_.Get(), HTTP_QUERY_CONTENT_RANGE));
    }
    return 0;
}

// WinINet follows redirects itself: an https request whose answer came from
// an http URL is judged before any byte of its body is written.
DWORD FileTransfer::CheckDowngrade() {
    WString final;
    DWORD capacity = 1024;
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD bytes = capacity * sizeof(wchar_t);
        wchar_t* buffer = final.GetWBuffer(static_cast<int>(capacity));
        const BOOL ok = WinInet().QueryOption(request_.Get(), INTERNET_OPTION_URL, buffer, &bytes);
        const DWORD units = bytes / sizeof(wchar_t);
        final.ReleaseBuffer(ok ? static_cast<int>(units < capacity ? units : capacity) : 0);
        if (ok || GetLastError() != ERROR_INSUFFICIENT_BUFFER || units <= capacity) break;
        capacity = units + 1;
    }
    switch (JudgeDowngrade(url_, final, verifiable_)) {
        case Downgrade::None:
            return 0;
        case Downgrade::Verified:
            if (LoggingEnabled) LogLine(u"Redirect from https to http followed, a hash checks the file:" + UrlForLog(final));
            return 0;
        case Downgrade::Refused:
            break;
    }
    if (LoggingEnabled)
        LogLine(u"Download refused, https redirected to http without a hash to check the file:" + UrlForLog(final));
    return E_DL_INSECURE_REDIRECT;
}

// A certificate problem is put to the observer; true when it was accepted
// and the request may be sent again with the problem ignored.
bool FileTransfer::AcceptCertificateProblem(DWORD error, DWORD* accepted) {
    const DWORD ignore = IgnoreFlagFor(error);
    if (Ask(WString(), error, request_.Get()) != 0 || !ignore || (*accepted & ignore)) {
        // Refused, or accepted before and still failing: it stays.
        return false;
    }
    *accepted |= ignore;
    DWORD securityFlags = 0;
    DWORD flagsSize = sizeof securityFlags;
    WinInet().QueryOption(request_.Get(), INTERNET_OPTION_SECURITY_FLAGS, &securityFlags, &flagsSize);
    securityFlags |= ignore;
    WinInet().SetOption(request_.Get(), INTERNET_OPTION_SECURITY_FLAGS, &securityFlags, sizeof securityFlags);
    return true;
}

DWORD FileTransfer::HttpRequest(const UrlParts& url, bool secure, uint32_t* bytesHeld, uint32_t* total) {
    const uint32_t knownTotal = *total;
    *total = 0;
    uint32_t held = *bytesHeld;
    DWORD result = HttpOpen(url, secure);
    WString headers;
    if (held) headers = Format(u"Range: bytes=%u-\r\n", held);
    DWORD acceptedCertificateErrors = 0;

    while (!result) {
        result = RunAsync(OP_SEND_REQUEST, false, [&]() -> BOOL {
            return WinInet().HttpSendRequest(request_.Get(), headers.IsEmpty() ? nullptr : headers.wc(),
                                             headers.IsEmpty() ? 0 : static_cast<DWORD>(headers.Length()), nullptr, 0);
        });
        if (result == E_DL_CANCELLED) break;
        DWORD sendError = result ? result : (async_->completionResult ? 0 : async_->completionError);
        HttpAnswer answer;
        result = HttpAnswerOf(held, sendError, &answer);
        if (!result && secure && answer.status) result = CheckDowngrade();
        if (result) break;
        answer.knownTotal = knownTotal;

        const HttpDecision decision = ClassifyHttpAnswer(answer);
        switch (decision.step) {
            case HttpStep::Receive:
            case HttpStep::PartComplete:
                *total = decision.total;
                *bytesHeld = decision.bytesHeld;
                pieceEnd_ = decision.pieceEnd;
                if (decision.step == HttpStep::Receive) return 0;  // the handles stay for the receive loop
                sourceKind_ = kSourceComplete;
                break;
            case HttpStep::RequestWhole:
                // The answer does not continue the part file: ask for the
                // whole file on a new request; the part file is recreated
                // only when that answer is the whole file.
                CloseRequest();
                held = 0;
                headers.Clear();
                result = HttpOpen(url, secure);
                continue;
            case HttpStep::SendError:
                if (IsCertificateError(decision.code) && AcceptCertificateProblem(decision.code, &acceptedCertificateErrors)) {
                    // Sent again without the extra headers (the request keeps those it was given).
                    headers.Clear();
                    continue;
                }
                result = decision.code;
                break;
            case HttpStep::Credentials:
                if (AskForCredentials(nullptr)) {
                    const bool proxy = answer.status == HTTP_STATUS_PROXY_AUTH_REQ;
                    const WString& name = credentials_->userName;
                    const WString& secret = credentials_->password;
                    WinInet().SetOption(request_.Get(), proxy ? INTERNET_OPTION_PROXY_USERNAME : INTERNET_OPTION_USERNAME,
                                        const_cast<wchar_t*>(name.wc()), static_cast<DWORD>(name.Length()));
                    WinInet().SetOption(request_.Get(), proxy ? INTERNET_OPTION_PROXY_PASSWORD : INTERNET_OPTION_PASSWORD,
                                        const_cast<wchar_t*>(secret.wc()), static_cast<DWORD>(secret.Length()));
                    continue;
                }
                result = E_DL_AUTH_REQUIRED;
                break;
            case HttpStep::RetryLater:
                retryAfter_ = QueryHeader(request_.Get(), HTTP_QUERY_RETRY_AFTER);
                if (LoggingEnabled) LogLine(Format(u"Server answered with status:%u", answer.status));
                result = E_DL_SERVER_UNAVAILABLE;
                break;
            case HttpStep::Fail:
                if (LoggingEnabled && answer.status)
                    LogLine(Format(u"Server answered with status:%u", answer.status));
                result = decision.code;
                break;
        }
        break;
    }
    CloseRequest();
    connection_.Reset();
    return result;
}

// ---------------------------------------------------------------------------
// FTP

DWORD FileTransfer::FtpRequest(const UrlParts& url, uint32_t* bytesHeld, uint32_t* total) {
    *total = 0;
    WString user = url.user;
    WString password = url.password;
    DWORD result = 0;
    for (;;) {
        const wchar_t* userText = user.IsEmpty() ? nullptr : user.wc();
        const wchar_t* passwordText = password.IsEmpty() ? nullptr : password.wc();
        result = RunAsync(OP_CONNECT, true, [&]() -> BOOL {
            HINTERNET h = WinInet().Connect(root_.Get(), url.host.wc(), url.port, userText, passwordText,
                                            INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, Context());
            if (h) async_->handle = h;
            return h != nullptr;
        });
        connection_.Reset(TakeHandle());
        if ((result == ERROR_INTERNET_INCORRECT_USER_NAME || result == ERROR_INTERNET_INCORRECT_PASSWORD ||
             result == ERROR_INTERNET_LOGIN_FAILURE) &&
            AskForCredentials(u"FTP Server")) {
            user = credentials_->userName;
            password = credentials_->password;
            continue;
        }
        break;
    }
    uint64_t serverSize = 0;
    if (!result && *bytesHeld) result = FtpResume(url.path, bytesHeld, &serverSize);
    if (!result) {
        result = RunAsync(OP_FTP_OPEN, true, [&]() -> BOOL {
            HINTERNET h = WinInet().FtpOpenFile(connection_.Get(), url.path.wc(), GENERIC_READ,
                                                FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_RELOAD, Context());
            if (h) async_->handle = h;
            return h != nullptr;
        });
        request_.Reset(TakeHandle());
    }
    if (!result) {
        DWORD high = 0;
        SetLastError(NO_ERROR);
        DWORD low = WinInet().FtpGetFileSize(request_.Get(), &high);
        if ((low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || (!low && !high)) {
            // WinINet did not learn it (Wine answers 0); the SIZE answer of
            // a resume holds.
            if (serverSize > kLargestFile) result = E_DL_FILE_TOO_LARGE;
            *total = static_cast<uint32_t>(serverSize);
        } else if (high) {
            result = E_DL_FILE_TOO_LARGE;
        } else {
            *total = low;
        }
        if (!result && *total && *bytesHeld >= *total) result = E_DL_PARTIAL_TOO_LARGE;
    }
    if (result) {
        CloseRequest();
        connection_.Reset();
    }
    return result;
}

// Sends one command on the control connection; reply is the code of the
// server's answer (0 when none could be read). A refusal is a reply, not a
// failure of the command.
DWORD FileTransfer::FtpCommandReply(const WString& command, uint32_t* reply) {
    *reply = 0;
    async_->lastResponse.Clear();
    DWORD result = RunAsync(OP_FTP_COMMAND, false, [&]() -> BOOL {
        return WinInet().FtpCommand(connection_.Get(), FALSE, FTP_TRANSFER_TYPE_ASCII, command.wc(), Context(), nullptr);
    });
    if (result == E_DL_CANCELLED || result == E_DL_STALLED) return result;
    const bool immediate = result != 0;
    if (!result && !async_->completionResult)
        result = async_->completionError ? async_->completionError : ERROR_INTERNET_EXTENDED_ERROR;
    if (result == ERROR_INTERNET_EXTENDED_ERROR) {
        if (immediate || async_->lastResponse.IsEmpty()) FetchLastResponse(async_.Get());
        result = 0;
    } else if (!result && async_->lastResponse.IsEmpty()) {
        FetchLastResponse(async_.Get());
    }
    if (result) return result;
    *reply = LeadingReplyCode(async_->lastResponse);
    return 0;
}

// A part file is continued only when the server tells the file's size (so
// that the end can be checked) and takes the restart offset; otherwise the
// file comes again whole.
DWORD FileTransfer::FtpResume(const WString& path, uint32_t* bytesHeld, uint64_t* serverSize) {
    uint32_t reply = 0;
    // Many servers answer SIZE only in binary mode, the mode of the transfer.
    DWORD result = FtpCommandReply(u"TYPE I", &reply);
    if (result) return result;
    result = FtpCommandReply(u"SIZE " + path, &reply);
    if (result) return result;
    const uint64_t size = reply == 213 ? FtpSizeReplyValue(async_->lastResponse) : 0;
    *serverSize = size;
    if (!size || size <= *bytesHeld) {
        // Unknown, or the part file is not shorter: nothing to continue.
        if (!size) *bytesHeld = 0;
        return 0;
    }
    result = FtpCommandReply(Format(u"REST %u", *bytesHeld), &reply);
    if (result) return result;
    if (reply != 350) *bytesHeld = 0;
    return 0;
}

// ---------------------------------------------------------------------------
// FILE URLs: a local disk or a network share

namespace {

DWORD AddNetworkConnection(const WString& folder, const WString& user, const WString& password) {
    typedef DWORD(APIENTRY * AddConnection)(LPNETRESOURCEW, LPCWSTR, LPCWSTR, DWORD);
    if (!SystemLibrary(L"mpr.dll")) return ERROR_MOD_NOT_FOUND;
    AddConnection add = SystemFunction<AddConnection>(L"mpr.dll", "WNetAddConnection2W");
    if (!add) return ERROR_PROC_NOT_FOUND;
    NETRESOURCEW resource;
    ZeroMemory(&resource, sizeof resource);
    resource.dwType = RESOURCETYPE_DISK;
    resource.lpRemoteName = const_cast<wchar_t*>(folder.wc());
    return add(&resource, password.IsEmpty() ? nullptr : password.wc(), user.wc(), 0);
}

}  // namespace

DWORD FileTransfer::FileSource(const UrlParts& url, uint32_t* bytesHeld, uint32_t* total) {
    sourceKind_ = kSourceLocalFile;
    localSourcePath_ = url.path;
    int slash = url.path.FindLastChar(u'\\');
    WString folder = slash < 0 ? WString() : url.path.Left(slash);
    WString user = url.user;
    WString password = url.password;
    for (;;) {
        DWORD result = user.IsEmpty() ? 0 : AddNetworkConnection(folder, user, password);
        if (!result) {
            DWORD sizeLow = 0;
            result = GetFileInformation(url.path, nullptr, &sizeLow);
            if (!result) {
                FileFinder finder(url.path);
                if (finder.Found() && finder.Data().nFileSizeHigh) return E_DL_FILE_TOO_LARGE;
                *total = sizeLow;
                *bytesHeld = 0;
                return 0;
            }
        }
        if ((result == ERROR_INVALID_PASSWORD || result == ERROR_LOGON_FAILURE || result == ERROR_BAD_USERNAME) &&
            AskForCredentials(u"Local Network Server")) {
            user = credentials_->userName;
            password = credentials_->password;
            continue;
        }
        return result;
    }
}

DWORD FileTransfer::LocalCopy() {
    DWORD result = CreateDirectoryTree(partPath_, false);
    if (result) {
        Report(WString(), result);
        return result;
    }
    LocalCopyContext copy = {observer_, 0, 0, 0, 0, 0};
    if (!CopyFileExW(localSourcePath_.wc(), partPath_.wc(), &LocalCopyProgress, &copy, nullptr, 0)) {
        result = GetLastError();
        Report(WString(), result);
        return result;
    }
    return PutPartFileInPlace();
}

// ---------------------------------------------------------------------------
// Receive loop

// Reads the next piece of the body into the buffer; read 0 at the end.
// At first, and whenever the data stops coming at once, it asks how much is
// available and reads that much, so that a slow server's bytes reach the
// part file as they come. Once a query and its read both completed at once
// the data is flowing, and the reads ask for the whole buffer without a
// query: WinINet answers a query with one network buffer (8 KiB under Wine)
// at a time, twice the calls for a sixth of the bytes. A read that has to
// wait falls back to queries.
DWORD FileTransfer::ReadChunk(DWORD* read) {
    TransferAsyncState* state = async_.Get();
    *read = 0;
    if (!state) return ERROR_NOT_ENOUGH_MEMORY;
    if (!state->buffer) state->buffer = static_cast<BYTE*>(MemAlloc(kReceiveBufferSize));
    if (!state->buffer) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD wanted = kReceiveBufferSize;
    bool atOnce = flowing_;
    flowing_ = false;
    if (!atOnce) {
        state->availableOut = 0;
        DWORD result = RunAsync(OP_QUERY_AVAILABLE, false, [&]() -> BOOL {
            return WinInet().QueryDataAvailable(request_.Get(), &state->availableOut, 0, 0);
        });
        if (result) return result;
        if (!state->completionResult) return state->completionError;  // 0: nothing more to read
        DWORD amount = state->completionError >= 1 ? state->completionError : state->availableOut;
        if (!amount) return 0;
        atOnce = !state->pended;
        if (amount < wanted) wanted = amount;
    }
    state->readOut = 0;
    DWORD result = RunAsync(OP_READ, false, [&]() -> BOOL {
        return WinInet().ReadFile(request_.Get(), state->buffer, wanted, &state->readOut);
    });
    if (result) return result;
    if (!state->completionResult) return state->completionError;
    DWORD count = state->completionError >= 1 ? state->completionError : state->readOut;
    *read = count > wanted ? wanted : count;
    flowing_ = atOnce && !state->pended && *read == wanted;
    return 0;
}

HANDLE FileTransfer::OpenPartFile(bool resume) {
    protectedWhileWriting_ = false;
    const DWORD access = GENERIC_READ | GENERIC_WRITE;
    if (protect_ && !resume) {
        // A new file: the descriptor of one that exists would stay.
        AccessListBuilder builder;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (ProtectedFolder::BuildDescriptor(&builder, &descriptor) == kResultOk) {
            (void)DeleteFileLong(partPath_);
            SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
            HANDLE file = CreateFileW(partPath_.wc(), access, FILE_SHARE_READ, &attributes, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                protectedWhileWriting_ = true;
                return file;
            }
        }
    }
    return CreateFileW(partPath_.wc(), access, FILE_SHARE_READ, nullptr, resume ? OPEN_EXISTING : CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

DWORD FileTransfer::ReceiveLoop(uint32_t total, uint32_t bytesHeld) {
    if (observer_) observer_->OnTransferStarted(kStartedStream, total, targetPath_);
    if (Cancelled()) return E_DL_CANCELLED;
    DWORD result = CreateDirectoryTree(partPath_, false);
    if (result) {
        Report(WString(), result);
        return result;
    }
    // Readers may look, nobody else writes or deletes while the digests are
    // computed over what is written here.
    UniqueFile part(OpenPartFile(bytesHeld != 0));
    if (!part) {
        result = GetLastError();
        if (Cancelled()) return E_DL_CANCELLED;
        Report(WString(), result);
        return result;
    }
    if (async_ && !async_->buffer) async_->buffer = static_cast<BYTE*>(MemAlloc(kReceiveBufferSize));
    if (!async_ || !async_->buffer) {
        Report(WString(), ERROR_NOT_ENOUGH_MEMORY);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    RestartHashes();
    result = HashHeldBytes(part.Get(), bytesHeld);
    if (result) {
        Report(WString(), result);
        return result;
    }
    if (observer_) observer_->OnProgress(bytesHeld);

    ReconnectStallGuard stallGuard(bytesHeld);
    seriesFault_ = 0;
    uint64_t held = bytesHeld;
    flowing_ = false;
    for (;;) {
        DWORD read = 0;
        result = sourceKind_ == kSourceComplete ? 0 : ReadChunk(&read);
        if (result == E_DL_CANCELLED) return result;
        BodyEnd end = BodyEnd::Complete;
        if (!result && read) {
            if (JudgeBodyEnd(held + read, total, pieceEnd_, true) == BodyEnd::Overrun) {
                end = BodyEnd::Overrun;
            } else {
                DWORD written = 0;
                if (!WriteFile(part.Get(), async_->buffer, read, &written, nullptr) || written != read) {
                    result = GetLastError();
                    if (!result) result = ERROR_WRITE_FAULT;
                    Report(WString(), result);
                    return result;
                }
                held += written;
                HashWritten(async_->buffer, written);
                if (observer_) observer_->OnProgress(written);
                if (Cancelled()) return E_DL_CANCELLED;
                continue;
            }
        } else if (result && !IsReconnectError(result) && result != E_DL_STALLED) {
            Report(WString(), result);
            return result;
        } else {
            end = JudgeBodyEnd(held, total, pieceEnd_, result != 0);
        }
        DWORD fault = 0;
        switch (end) {
            case BodyEnd::Complete:
                if (!FinishedPartMatches(held)) {
                    // Not the file asked for: the next attempt starts afresh.
                    part.Reset();
                    DeleteFileLong(partPath_);
                    return E_DL_FILE_REJECTED;
                }
                written_ = IdentityOfOpenFile(part.Get());
                part.Reset();
                result = PutPartFileInPlace();
                if (result) verifiedWhileWriting_ = protectedWhileWriting_ = false;
                return result;
            case BodyEnd::RequestRest:
                break;
            case BodyEnd::EarlyClose:
                fault = result == E_DL_STALLED ? E_DL_STALLED : E_DL_INCOMPLETE;
                break;
            case BodyEnd::Overrun:
                // The source sent more than the file has (an FTP server that
                // forgot the restart offset): what the part file holds is not
                // known to be the file's head. It starts again from zero.
                if (LoggingEnabled) LogLine(u"More data than the file has, downloading it again from the start:" + UrlForLog(url_));
                SetFilePointer(part.Get(), 0, nullptr, FILE_BEGIN);
                SetEndOfFile(part.Get());
                RestartHashes();
                held = 0;
                forceWhole_ = true;
                fault = E_DL_INCOMPLETE;
                break;
        }
        result = Reconnect(part.Get(), &stallGuard, &total, fault);
        if (result) {
            if (result != E_DL_CANCELLED) Report(WString(), result);
            return result;
        }
        uint32_t size = 0;
        held = FileSize32(part.Get(), &size) ? size : held;
    }
}

// Opens the source again from the part file's size, after a short pause
// when the connection ended early. A series of reconnections that bring
// nothing new ends with the fault that began it; a source that now sends the
// whole file starts the part file again.
DWORD FileTransfer::Reconnect(HANDLE partFile, ReconnectStallGuard* guard, uint32_t* total, DWORD fault) {
    for (;;) {
        CloseRequest();
        FlushFileBuffers(partFile);
        uint32_t size = 0;
        if (!FileSize32(partFile, &size)) return E_DL_FILE_TOO_LARGE;
        const int before = guard->FruitlessInARow();
        if (!guard->MayReconnect(size)) {
            const DWORD code = seriesFault_ ? seriesFault_ : E_DL_INCOMPLETE;
            if (LoggingEnabled)
                LogLine(Format(u"Download still incomplete after resuming, bytes held:%u of %u", size, *total));
            return code;
        }
        if (guard->FruitlessInARow() <= before || !seriesFault_) seriesFault_ = fault;
        if (fault) {
            if (LoggingEnabled) LogLine(Format(u"Connection ended early, resuming at:%u", size));
            if (!PauseUnlessCancelled(ResumePauseMs(guard->FruitlessInARow()))) return E_DL_CANCELLED;
        }
        uint32_t bytesHeld = forceWhole_ ? 0 : size;
        flowing_ = false;
        connection_.Reset();
        DWORD result = OpenSourceWithRetries(&bytesHeld, total);
        if (IsReconnectError(result) || result == E_DL_STALLED) {
            fault = result == E_DL_STALLED ? E_DL_STALLED : E_DL_INCOMPLETE;
            continue;
        }
        if (result) return result;
        forceWhole_ = false;
        if (bytesHeld != size) {
            // The whole file comes again: the part file starts over with it.
            SetFilePointer(partFile, 0, nullptr, FILE_BEGIN);
            if (!SetEndOfFile(partFile)) return GetLastError();
            RestartHashes();
        }
        if (expectedSize_ && *total && *total != expectedSize_) return E_DL_SIZE_MISMATCH;
        return 0;
    }
}

void FileTransfer::SetExpectedDigests(const WString& md5, const WString& sha256) {
    expectedMd5_ = md5.Trimmed();
    expectedSha256_ = sha256.Trimmed();
}

void FileTransfer::RestartHashes() {
    md5_.Reset();
    sha256_.Reset();
}

void FileTransfer::HashWritten(const BYTE* bytes, DWORD count) {
    if (!expectedMd5_.IsEmpty()) md5_.Update(bytes, count);
    if (!expectedSha256_.IsEmpty()) sha256_.Update(bytes, count);
}

// Hashes what a resumed part file already holds, read through the handle the
// transfer writes with, and leaves the file pointer at its end.
DWORD FileTransfer::HashHeldBytes(HANDLE partFile, uint32_t bytesHeld) {
    if (bytesHeld && (!expectedMd5_.IsEmpty() || !expectedSha256_.IsEmpty())) {
        if (SetFilePointer(partFile, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return GetLastError();
        uint32_t left = bytesHeld;
        while (left) {
            const DWORD wanted = left < kReceiveBufferSize ? left : kReceiveBufferSize;
            DWORD got = 0;
            if (!ReadFile(partFile, async_->buffer, wanted, &got, nullptr)) return GetLastError();
            if (!got) return ERROR_HANDLE_EOF;
            HashWritten(async_->buffer, got);
            left -= got;
        }
    }
    SetFilePointer(partFile, 0, nullptr, FILE_END);
    return 0;
}

// The finished part file against the expected size and digests; a digest
// that was given and matched marks the file as verified while writing.
bool FileTransfer::FinishedPartMatches(uint64_t size) {
    if (expectedSize_ && size != expectedSize_) {
        if (LoggingEnabled) LogLine(Format(u"Downloaded size differs from the expected size:%u", expectedSize_));
        return false;
    }
    bool checked = false;
    if (!expectedMd5_.IsEmpty()) {
        uint8_t digest[16];
        char16_t text[33];
        md5_.Finish(digest);
        Md5DigestToHex(digest, text);
        if (!DigestTextMatches(expectedMd5_.c_str(), expectedMd5_.Length(), text)) {
            if (LoggingEnabled) LogLine(WString(u"MD5 of the downloaded file differs:") + WString(text));
            return false;
        }
        checked = true;
    }
    if (!expectedSha256_.IsEmpty()) {
        uint8_t digest[32];
        char16_t text[65];
        sha256_.Finish(digest);
        Sha256DigestToHex(digest, text);
        if (!Sha256TextMatches(expectedSha256_.c_str(), expectedSha256_.Length(), text)) {
            if (LoggingEnabled) LogLine(WString(u"SHA256 of the downloaded file differs:") + WString(text));
            return false;
        }
        checked = true;
    }
    verifiedWhileWriting_ = checked;
    return true;
}

DWORD FileTransfer::PutPartFileInPlace() {
    DeleteFileLong(targetPath_);
    if (!MoveFileW(partPath_.wc(), targetPath_.wc())) {
        if (!CopyFileW(partPath_.wc(), targetPath_.wc(), FALSE)) {
            DWORD error = GetLastError();
            Report(WString(), error);
            return error;
        }
        DeleteFileLong(partPath_);
    }
    if (observer_) observer_->OnFinished(kFinishedTransfer, 0);
    return 0;
}

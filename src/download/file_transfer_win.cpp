#include "download/file_transfer_win.h"

#include "base/grow_retry.h"
#include "download/file_transfer_internal_win.h"
#include "download/transfer_rules.h"
#include "download/wininet_api_win.h"
#include "platform/fileops_win.h"
#include "platform/win_util.h"

namespace {

// How long closing waits for WinINet to finish with a handle whose call was
// left pending by a cancellation (a server that stopped sending may never
// complete it), and for a handle that such a call was still creating.
constexpr DWORD kClosingWaitMilliseconds = 1000;
constexpr DWORD kAbandonedCallWaitMilliseconds = 500;

// Winsock's own codes of a connection that was aborted or reset, which Wine's
// WinINet may hand on unchanged.
constexpr DWORD kSocketConnectionAborted = 10053;
constexpr DWORD kSocketConnectionReset = 10054;

// Closes a request on a thread of its own. Wine's WinINet reads the rest of
// an unfinished body before it lets a request go, for as long as the server
// goes on sending (minutes for a large file on a fast link); the closing
// waits for the handle no longer than for any other (kClosingWaitMilliseconds)
// and then leaves it to WinINet, as it does a call left pending.
DWORD WINAPI CloseRequestThread(void* request) {
    WinInet().CloseHandle(static_cast<HINTERNET>(request));
    return 0;
}

void CloseRequestHandle(HINTERNET request) {
    HANDLE thread = CreateThread(nullptr, 0, &CloseRequestThread, request, 0, nullptr);
    if (thread)
        CloseHandle(thread);
    else
        WinInet().CloseHandle(request);
}

// A string with room for a cracked URL component.
wchar_t* ComponentBuffer(WString* text, int capacity) { return text->GetWBuffer(capacity); }

// Waits until flag is set, at most timeout milliseconds.
bool WaitForFlag(volatile LONG* flag, HANDLE wake, DWORD timeout) {
    const DWORD start = GetTickCount();
    while (!InterlockedCompareExchange(flag, 0, 0)) {
        if (GetTickCount() - start >= timeout) return false;
        WaitForSingleObject(wake, kTransferPollMilliseconds);
    }
    return true;
}

void LogTooLarge(const WString& url) {
    if (LoggingEnabled) LogLine(u"Download refused, the file is larger than its volume can hold:" + UrlForLog(url));
}

}  // namespace

WString HeldLine(const char16_t* prefix, uint64_t held, uint64_t total) {
    return WString(prefix).AppendUnsigned(held).Append(u" of ").AppendUnsigned(total);
}

// A longer answer than the buffer is read again with the size WinINet asks
// for.
void FetchLastResponse(TransferAsyncState* state) {
    (void)GrowAndRetry(1000, 4, [&](uint32_t capacity, uint32_t* needed) {
        WString text;
        DWORD error = 0;
        DWORD length = capacity;
        wchar_t* buffer = text.GetWBuffer(static_cast<int>(capacity));
        if (WinInet().GetLastResponseInfo(&error, buffer, &length)) {
            text.ReleaseBuffer(static_cast<int>(length < capacity ? length : capacity));
            state->lastResponse = text;
            return QueryStep::kDone;
        }
        text.ReleaseBuffer(0);
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || length <= capacity) return QueryStep::kFailed;
        *needed = length + 1;
        return QueryStep::kGrow;
    });
}

namespace {

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

TransferAsyncState* NewAsyncState() {
    TransferAsyncState* state = new TransferAsyncState;
    state->requestDone.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    state->handleClosed.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (state->requestDone && state->handleClosed) return state;
    delete state;
    return nullptr;
}

}  // namespace

bool IsStall(ResultCode error) { return error == E_DL_STALLED || error == ERROR_INTERNET_TIMEOUT; }

bool IsReconnectError(ResultCode error) {
    return error == E_DL_INCOMPLETE || error == ERROR_INTERNET_CONNECTION_ABORTED ||
           error == ERROR_INTERNET_CONNECTION_RESET || error == ERROR_INTERNET_DISCONNECTED ||
           error == kSocketConnectionAborted || error == kSocketConnectionReset;
}

FileTransfer::FileTransfer(TransferObserver* observer, CredentialStore* credentials)
    : observer_(observer), credentials_(credentials) {}

FileTransfer::~FileTransfer() { CloseAll(); }

// ---------------------------------------------------------------------------
// Observer

bool FileTransfer::Cancelled() { return observer_ && observer_->IsCancelled(); }

uint32_t FileTransfer::Ask(const WString& context, ResultCode code, void* handle) {
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
        Sleep(left < kTransferPollMilliseconds ? left : kTransferPollMilliseconds);
    }
}

bool FileTransfer::WaitBeforeTry(WaitReason reason, int attempt, int attempts, DWORD milliseconds) {
    if (attempt > attempts) attempt = attempts;
    if (observer_) observer_->OnWaiting(reason, static_cast<uint32_t>(attempt), static_cast<uint32_t>(attempts));
    const bool goOn = PauseUnlessCancelled(milliseconds);
    if (observer_) observer_->OnWaiting(reason, 0, static_cast<uint32_t>(attempts));
    return goOn;
}

HINTERNET FileTransfer::TakeHandle() {
    HINTERNET h = async_->handle;
    async_->handle = nullptr;
    return h;
}

// ---------------------------------------------------------------------------
// Handles

ResultCode FileTransfer::OpenRoot() {
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
            UniqueInternet late(TakeHandle());
        } else {
            settled = false;
        }
    }
    if (request) {
        ResetEvent(state->handleClosed.Get());
        CloseRequestHandle(request);
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

ResultCode FileTransfer::CheckUrl() {
    URL_COMPONENTSW parts;
    ZeroMemory(&parts, sizeof parts);
    parts.dwStructSize = sizeof parts;
    if (!WinInet().CrackUrl(url_.wc(), 0, 0, &parts)) return GetLastError();
    fileScheme_ = parts.nScheme == INTERNET_SCHEME_FILE;
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

ResultCode FileTransfer::Download(const WString& url, const WString& targetPath) {
    url_ = url;
    targetPath_ = targetPath;

    ResultCode result = WinInet().error;
    if (!result) result = CheckUrl();
    if (result) return Fail(result);
    result = OpenRoot();
    if (result) {
        CloseAll();
        return result;
    }
    if (!IsAbsoluteTargetPath(targetPath_)) {
        CloseAll();
        return Fail(E_DL_BAD_TARGET);
    }

    verifiedWhileWriting_ = false;
    // A folder that cannot be made shows as the binding's failure.
    (void)CreateDirectoryTree(targetPath_, false);
    result = part_.Bind(targetPath_, expected_, protect_, mirror_, downloadRoot_);
    if (result) {
        if (result == kLinkRefused && LoggingEnabled)
            LogLine(u"Download refused, a link is on the way to its folder:" + targetPath_);
        CloseAll();
        return Fail(result);
    }
    // From here on the part file is open in this transfer alone: what it
    // holds is measured and hashed on the handle that goes on writing it.
    // A part file this run may not write (one an elevated run left under
    // its protected descriptor) is begun afresh, like one whose size cannot
    // be read.
    uint64_t bytesHeld = part_.OpenToResume();
    // The held bytes are being hashed (on the digest thread, from the part
    // file) by the time the source is asked for the rest.
    if (bytesHeld && !fileScheme_) result = part_.Prepare(bytesHeld, observer_);
    uint64_t total = 0;
    proving_ = false;
    if (!result) result = OpenFirstTime(&bytesHeld, &total);
    if (Cancelled()) {
        result = E_DL_CANCELLED;
    } else if (result) {
        if (result == E_DL_FILE_TOO_LARGE) LogTooLarge(url_);
        if (result != E_DL_NOT_MODIFIED) Report(TargetFileName(), result);
    } else if (expected_.size && total && total != expected_.size) {
        result = FailFor(TargetFileName(), E_DL_SIZE_MISMATCH);
    } else if ((result = CheckVolumeRoom(total, bytesHeld)) != kResultOk) {
        // Refused before a byte is written: the part file stays as it is.
        Report(TargetFileName(), result);
    } else if (sourceKind_ == kSourceLocalFile) {
        result = LocalCopy();
    } else {
        result = ReceiveLoop(total, bytesHeld);
    }
    CloseAll();
    part_.Close();
    return result;
}

// A connection that ends or stalls before the answer is there is tried
// again after a growing pause, as often as the receive loop resumes one.
ResultCode FileTransfer::OpenFirstTime(uint64_t* bytesHeld, uint64_t* total) {
    const uint64_t held = *bytesHeld;
    ResultCode result = kResultOk;
    int stalls = 0;
    for (int attempt = 0;; ++attempt) {
        *bytesHeld = held;
        result = OpenSourceWithRetries(bytesHeld, total);
        if (!IsReconnectError(result) && !IsStall(result)) return result;
        if (attempt >= ReconnectStallGuard::kMaxStalledReconnects) break;
        if (IsStall(result) && ++stalls > ReconnectStallGuard::kMaxStallResumes) break;
        if (LoggingEnabled) LogLine(WString(u"Connection ended early, resuming at:").AppendUnsigned(held));
        const bool silent = IsStall(result);
        if (!WaitBeforeTry(silent ? WaitReason::ServerSilent : WaitReason::ConnectionLost, silent ? stalls : attempt + 1,
                           silent ? ReconnectStallGuard::kMaxStallResumes : ReconnectStallGuard::kMaxStalledReconnects,
                           ResumePauseMs(attempt)))
            return E_DL_CANCELLED;
    }
    if (LoggingEnabled) LogLine(HeldLine(u"Download still incomplete after resuming, bytes held:", held, *total));
    return IsStall(result) ? E_DL_STALLED : E_DL_INCOMPLETE;
}

ResultCode FileTransfer::OpenSourceWithRetries(uint64_t* bytesHeld, uint64_t* total) {
    int retriesLeft = retryBudget_;
    int serverRetries = 0;
    for (;;) {
        retryAfter_.Clear();
        ResultCode result = OpenUrl(bytesHeld, total);
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
            if (!WaitBeforeTry(WaitReason::ServerUnavailable, serverRetries, kServerRetries, pause)) return E_DL_CANCELLED;
            continue;
        }
        return result;
    }
}

ResultCode FileTransfer::CrackInto(const WString& text, UrlParts* out) {
    UrlParts& url = *out;
    url = UrlParts();
    const int capacity = text.Length() + 1;
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
    BOOL cracked = WinInet().CrackUrl(text.wc(), 0, 0, &parts);
    ResultCode error = cracked ? kResultOk : GetLastError();
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
    return kResultOk;
}

ResultCode FileTransfer::OpenUrl(uint64_t* bytesHeld, uint64_t* total) {
    UrlParts url;
    const ResultCode cracked = CrackInto(url_, &url);
    if (cracked) return cracked;
    answerValidator_ = Validator();

    switch (url.scheme) {
        case INTERNET_SCHEME_FTP:
            sourceKind_ = kSourceInternet;
            readsWithoutWait_ = false;
            return FtpRequest(url, bytesHeld, total);
        case INTERNET_SCHEME_HTTP:
        case INTERNET_SCHEME_HTTPS:
            sourceKind_ = kSourceInternet;
            readsWithoutWait_ = true;
            return HttpRequest(url, url.scheme == INTERNET_SCHEME_HTTPS, bytesHeld, total);
        case INTERNET_SCHEME_FILE:
            return FileSource(url, bytesHeld, total);
        default:
            return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    }
}

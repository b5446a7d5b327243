#include "download/file_transfer_win.h"

#include <winnetwk.h>

#include "base/fatal.h"
#include "download/transfer_rules.h"
#include "platform/fileops_win.h"
#include "platform/win_util.h"

namespace {

constexpr DWORD kPollMilliseconds = 10;
constexpr DWORD kCopyReportMilliseconds = 200;
// How long a cancelled transfer waits for a call that was creating a handle,
// so that the handle can be closed before the object goes away.
constexpr int kAbandonedCallPolls = 500;

bool IsReconnectError(DWORD error) {
    return error == ERROR_INTERNET_TIMEOUT || error == ERROR_INTERNET_CONNECTION_ABORTED ||
           error == ERROR_INTERNET_CONNECTION_RESET || error == ERROR_INTERNET_DISCONNECTED;
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

}  // namespace

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

FileTransfer::~FileTransfer() {
    CloseRequest();
    CloseConnection();
    CloseRoot();
    CloseEvents();
    MemFree(buffer_);
}

DWORD CALLBACK LocalCopyProgress(LARGE_INTEGER totalFileSize, LARGE_INTEGER totalTransferred, LARGE_INTEGER, LARGE_INTEGER,
                            DWORD, DWORD reason, HANDLE, HANDLE, LPVOID data) {
    LocalCopyContext* copy = static_cast<LocalCopyContext*>(data);
    if (reason == CALLBACK_STREAM_SWITCH) {
        copy->running = 0;
        copy->reported = 0;
        copy->lastReportTick = 0;
        copy->lastTransferred = 0;
        copy->total = static_cast<uint32_t>(totalFileSize.QuadPart);
        if (copy->observer) copy->observer->OnTransferStarted(1, copy->total, WString());
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

// ---------------------------------------------------------------------------
// Asynchronous call pattern and status callback

void CALLBACK FileTransfer::StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
    FileTransfer* self = reinterpret_cast<FileTransfer*>(context);
    if (!self) return;
    if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        if (self->handleClosed_) SetEvent(self->handleClosed_);
        return;
    }
    if (status != INTERNET_STATUS_REQUEST_COMPLETE || !info) return;
    const INTERNET_ASYNC_RESULT* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
    self->completionError_ = result->dwError;
    self->completionResult_ = result->dwResult;
    switch (self->pendingOperation_) {
        case OP_READ:
        case OP_SEND_REQUEST:
        case OP_QUERY_AVAILABLE:
            break;
        case OP_FTP_COMMAND:
            self->FetchLastResponse();
            break;
        default:
            self->request_ = reinterpret_cast<HINTERNET>(result->dwResult);
            self->FetchLastResponse();
            break;
    }
    InterlockedExchange(&self->completed_, 1);
    SetEvent(self->requestDone_);
}

void FileTransfer::FetchLastResponse() {
    DWORD capacity = 1000;
    for (int attempt = 0; attempt < 4; ++attempt) {
        WString text;
        DWORD error = 0;
        DWORD length = capacity;
        wchar_t* buffer = text.GetWBuffer(static_cast<int>(capacity));
        if (InternetGetLastResponseInfoW(&error, buffer, &length)) {
            text.ReleaseBuffer(static_cast<int>(length < capacity ? length : capacity));
            lastResponse_ = text;
            return;
        }
        text.ReleaseBuffer(0);
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || length <= capacity) return;
        capacity = length + 1;
    }
}

template <typename Call>
DWORD FileTransfer::RunAsync(int operation, bool yieldsHandle, Call call) {
    InterlockedExchange(&pendingOperation_, operation);
    InterlockedExchange(&completed_, 0);
    completionError_ = 0;
    completionResult_ = 0;
    ResetEvent(requestDone_);
    SetLastError(0);
    if (call()) {
        // Finished at once: the completion record reads as a success.
        completionResult_ = TRUE;
        completionError_ = 0;
        SetEvent(requestDone_);
        return 0;
    }
    DWORD error = GetLastError();
    // A call that yields no handle and reports no error has been queued
    // (some WinINet versions do not set ERROR_IO_PENDING for it).
    if (yieldsHandle && error == 0) error = ERROR_IO_PENDING;
    if (error != ERROR_IO_PENDING) {
        // Nothing is in flight; closing a handle must not wait for it.
        SetEvent(requestDone_);
        return error ? error : ERROR_INTERNET_INTERNAL_ERROR;
    }
    while (!InterlockedCompareExchange(&completed_, 0, 0)) {
        if (Cancelled()) {
            if (yieldsHandle) handleCallAbandoned_ = true;
            return E_DL_CANCELLED;
        }
        WaitForSingleObject(requestDone_, kPollMilliseconds);
    }
    if (yieldsHandle && !request_) return completionError_ ? completionError_ : ERROR_INTERNET_INTERNAL_ERROR;
    return 0;
}

// ---------------------------------------------------------------------------
// Handles

DWORD FileTransfer::OpenRoot() {
    CloseEvents();
    requestDone_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    handleClosed_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!requestDone_ || !handleClosed_) return GetLastError();
    root_ = InternetOpenW(L"Corvane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
    if (!root_) return GetLastError();
    InternetSetStatusCallbackW(root_, &FileTransfer::StatusCallback);
    return 0;
}

void FileTransfer::CloseRequest() {
    if (handleCallAbandoned_) {
        // A cancelled call may still deliver its handle; let it arrive so that
        // it is closed here rather than reported to an object that is gone.
        for (int i = 0; i < kAbandonedCallPolls && !InterlockedCompareExchange(&completed_, 0, 0); ++i)
            WaitForSingleObject(requestDone_, kPollMilliseconds);
        handleCallAbandoned_ = false;
    }
    HINTERNET request = request_;
    if (!request) return;
    ResetEvent(handleClosed_);
    InternetCloseHandle(request);
    WaitForSingleObject(requestDone_, INFINITE);
    WaitForSingleObject(handleClosed_, INFINITE);
    request_ = nullptr;
}

void FileTransfer::CloseConnection() {
    if (!connection_) return;
    InternetSetStatusCallbackW(connection_, nullptr);
    InternetCloseHandle(connection_);
    connection_ = nullptr;
}

void FileTransfer::CloseRoot() {
    if (!root_) return;
    InternetSetStatusCallbackW(root_, nullptr);
    InternetCloseHandle(root_);
    root_ = nullptr;
}

void FileTransfer::CloseEvents() {
    if (requestDone_) CloseHandle(requestDone_);
    if (handleClosed_) CloseHandle(handleClosed_);
    requestDone_ = nullptr;
    handleClosed_ = nullptr;
}

// ---------------------------------------------------------------------------
// Download

DWORD FileTransfer::CheckUrl() {
    URL_COMPONENTSW parts;
    ZeroMemory(&parts, sizeof parts);
    parts.dwStructSize = sizeof parts;
    if (!InternetCrackUrlW(url_.wc(), 0, 0, &parts)) return GetLastError();
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
    request_ = nullptr;
    connection_ = nullptr;

    DWORD result = CheckUrl();
    if (result) {
        Report(WString(), result);
        return result;
    }
    result = OpenRoot();
    if (result) {
        CloseRoot();
        return result;
    }
    if (!IsAbsoluteTargetPath(targetPath_)) {
        Report(WString(), E_DL_BAD_TARGET);
        CloseRoot();
        return E_DL_BAD_TARGET;
    }

    uint32_t bytesHeld = 0;
    {
        UniqueFile part(CreateFileW(partPath_.wc(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (part) {
            DWORD size = GetFileSize(part.Get(), nullptr);
            if (size != INVALID_FILE_SIZE) bytesHeld = size;
        }
    }

    uint32_t total = 0;
    result = OpenSourceWithRetries(&bytesHeld, &total);
    if (Cancelled()) {
        result = E_DL_CANCELLED;
    } else if (result) {
        if (result != E_DL_NOT_MODIFIED) Report(TargetFileName(), result);
    } else if (expectedSize_ && total && total != expectedSize_) {
        result = E_DL_SIZE_MISMATCH;
        Report(TargetFileName(), result);
    } else if (sourceKind_ == kSourceLocalFile) {
        result = LocalCopy();
    } else {
        result = ReceiveLoop(total, bytesHeld);
    }

    CloseRequest();
    CloseConnection();
    CloseRoot();
    MemFree(buffer_);
    buffer_ = nullptr;
    return result;
}

DWORD FileTransfer::OpenSourceWithRetries(uint32_t* bytesHeld, uint32_t* total) {
    int retriesLeft = retryBudget_;
    for (;;) {
        DWORD result = OpenUrl(bytesHeld, total);
        if ((result == ERROR_INTERNET_NAME_NOT_RESOLVED || result == ERROR_INTERNET_CANNOT_CONNECT) && retriesLeft > 0) {
            --retriesLeft;
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
    BOOL cracked = InternetCrackUrlW(url_.wc(), 0, 0, &parts);
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

DWORD FileTransfer::HttpRequest(const UrlParts& url, bool secure, uint32_t* bytesHeld, uint32_t* total) {
    *total = 0;
    const wchar_t* user = url.user.IsEmpty() ? nullptr : url.user.wc();
    const wchar_t* password = url.password.IsEmpty() ? nullptr : url.password.wc();
    DWORD result = RunAsync(OP_CONNECT, true, [&]() -> BOOL {
        HINTERNET h = InternetConnectW(root_, url.host.wc(), url.port, user, password, INTERNET_SERVICE_HTTP, 0,
                                       reinterpret_cast<DWORD_PTR>(this));
        if (h) request_ = h;
        return h != nullptr;
    });
    connection_ = request_;
    request_ = nullptr;
    if (result) return result;

    WString object = url.path + url.extra;
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                  INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
    if (secure) flags |= INTERNET_FLAG_SECURE;
    const wchar_t* acceptTypes[] = {L"*/*", nullptr};
    result = RunAsync(OP_OPEN_REQUEST, true, [&]() -> BOOL {
        HINTERNET h = HttpOpenRequestW(connection_, L"GET", object.wc(), L"HTTP/1.0", L"", acceptTypes, flags,
                                       reinterpret_cast<DWORD_PTR>(this));
        if (h) request_ = h;
        return h != nullptr;
    });
    if (result) {
        CloseRequest();
        CloseConnection();
        return result;
    }

    WString headers;
    if (*bytesHeld) headers = Format(u"Range: bytes=%u-\r\n", *bytesHeld);
    DWORD acceptedCertificateErrors = 0;

    for (;;) {
        // Send.
        result = RunAsync(OP_SEND_REQUEST, false, [&]() -> BOOL {
            return HttpSendRequestW(request_, headers.IsEmpty() ? nullptr : headers.wc(),
                                    headers.IsEmpty() ? 0 : static_cast<DWORD>(headers.Length()), nullptr, 0);
        });
        if (result == E_DL_CANCELLED) break;
        DWORD sendError = result ? result : (completionResult_ ? 0 : completionError_);
        result = 0;

        DWORD status = 0;
        DWORD size = sizeof status;
        if (!HttpQueryInfoW(request_, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
            // A send that failed has no status; its own error tells what went wrong.
            if (!sendError) {
                result = GetLastError();
                break;
            }
            status = 0;
        }
        DWORD length = 0;
        size = sizeof length;
        if (status &&
            !HttpQueryInfoW(request_, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr))
            length = 0;

        bool credentials = false;
        bool judgeSendError = false;
        switch (status) {
            case 0:
                judgeSendError = true;
                break;
            case HTTP_STATUS_OK:
                *total = length;
                if (length && length <= *bytesHeld) {
                    result = E_DL_PARTIAL_TOO_LARGE;
                } else {
                    *bytesHeld = 0;
                    judgeSendError = true;
                }
                break;
            case HTTP_STATUS_PARTIAL_CONTENT:
                if (length) {
                    *total = *bytesHeld + length;
                } else {
                    // No length: the rest still continues the part file; the
                    // whole size comes from Content-Range when the server
                    // sends one, else it is unknown.
                    *total = 0;
                    WString range;
                    DWORD bytes = 256 * sizeof(wchar_t);
                    wchar_t* buffer = range.GetWBuffer(256);
                    BOOL ok = HttpQueryInfoW(request_, HTTP_QUERY_CONTENT_RANGE, buffer, &bytes, nullptr);
                    range.ReleaseBuffer(ok ? static_cast<int>(bytes / sizeof(wchar_t)) : 0);
                    uint32_t first = 0, whole = 0;
                    if (ok && ParseContentRange(range, &first, &whole) && first == *bytesHeld) *total = whole;
                }
                judgeSendError = true;
                break;
            case HTTP_STATUS_NOT_MODIFIED:
                result = E_DL_NOT_MODIFIED;
                break;
            case HTTP_STATUS_DENIED:
            case HTTP_STATUS_PROXY_AUTH_REQ:
                credentials = true;
                break;
            case HTTP_STATUS_FORBIDDEN:
                result = E_DL_FORBIDDEN;
                break;
            case HTTP_STATUS_NOT_FOUND:
            case HTTP_STATUS_GONE:
                result = E_DL_NOT_FOUND;
                break;
            default:
                if (!sendError) {
                    *bytesHeld = 0;
                    *total = length;
                } else {
                    judgeSendError = true;
                }
                break;
        }

        if (judgeSendError && sendError) {
            if (IsCertificateError(sendError)) {
                uint32_t answer = observer_ ? Ask(WString(), sendError, request_) : sendError;
                if (answer != 0 || (acceptedCertificateErrors & IgnoreFlagFor(sendError)) ||
                    !IgnoreFlagFor(sendError)) {
                    // Refused, or accepted before and still failing: it stays.
                    result = sendError;
                } else {
                    // Accepted: let this problem pass and send again without
                    // the extra headers (the request keeps those it was given).
                    DWORD ignore = IgnoreFlagFor(sendError);
                    acceptedCertificateErrors |= ignore;
                    DWORD securityFlags = 0;
                    DWORD flagsSize = sizeof securityFlags;
                    InternetQueryOptionW(request_, INTERNET_OPTION_SECURITY_FLAGS, &securityFlags, &flagsSize);
                    securityFlags |= ignore;
                    InternetSetOptionW(request_, INTERNET_OPTION_SECURITY_FLAGS, &securityFlags, sizeof securityFlags);
                    headers.Clear();
                    continue;
                }
            } else {
                result = sendError;
            }
        }

        if (credentials) {
            uint32_t answer = Ask(url_, E_DL_AUTH_REQUIRED, credentials_);
            if (observer_ && answer == ERROR_RETRY && credentials_ && !credentials_->userName.IsEmpty()) {
                const bool proxy = status == HTTP_STATUS_PROXY_AUTH_REQ;
                const WString& name = credentials_->userName;
                const WString& secret = credentials_->password;
                InternetSetOptionW(request_, proxy ? INTERNET_OPTION_PROXY_USERNAME : INTERNET_OPTION_USERNAME,
                                   const_cast<wchar_t*>(name.wc()), static_cast<DWORD>(name.Length()));
                InternetSetOptionW(request_, proxy ? INTERNET_OPTION_PROXY_PASSWORD : INTERNET_OPTION_PASSWORD,
                                   const_cast<wchar_t*>(secret.wc()), static_cast<DWORD>(secret.Length()));
                continue;
            }
            result = E_DL_AUTH_REQUIRED;
        }
        break;
    }

    if (result) {
        CloseRequest();
        CloseConnection();
    }
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
            HINTERNET h = InternetConnectW(root_, url.host.wc(), url.port, userText, passwordText,
                                           INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE,
                                           reinterpret_cast<DWORD_PTR>(this));
            if (h) request_ = h;
            return h != nullptr;
        });
        connection_ = request_;
        request_ = nullptr;
        if (result == ERROR_INTERNET_INCORRECT_USER_NAME || result == ERROR_INTERNET_INCORRECT_PASSWORD ||
            result == ERROR_INTERNET_LOGIN_FAILURE) {
            if (credentials_) credentials_->description = u"FTP Server";
            uint32_t answer = Ask(url_, E_DL_AUTH_REQUIRED, credentials_);
            if (observer_ && answer == ERROR_RETRY && credentials_ && !credentials_->userName.IsEmpty()) {
                user = credentials_->userName;
                password = credentials_->password;
                continue;
            }
        }
        break;
    }
    if (result) return result;

    if (*bytesHeld) {
        WString command = Format(u"REST %u", *bytesHeld);
        lastResponse_.Clear();
        result = RunAsync(OP_FTP_COMMAND, false, [&]() -> BOOL {
            return FtpCommandW(connection_, FALSE, FTP_TRANSFER_TYPE_ASCII, command.wc(),
                               reinterpret_cast<DWORD_PTR>(this), nullptr);
        });
        if (!result && completionResult_ && lastResponse_.IsEmpty()) FetchLastResponse();
        if (result == ERROR_INTERNET_EXTENDED_ERROR) {
            // The server answered with a refusal: that is a reply, not a
            // failure of the command, and the file simply comes again whole.
            FetchLastResponse();
            result = 0;
        } else if (!result && !completionResult_) {
            result = completionError_ ? completionError_ : ERROR_INTERNET_EXTENDED_ERROR;
        }
        if (result) {
            CloseConnection();
            return result;
        }
        if (LeadingReplyCode(lastResponse_) != 350) *bytesHeld = 0;
    }

    result = RunAsync(OP_FTP_OPEN, true, [&]() -> BOOL {
        HINTERNET h = FtpOpenFileW(connection_, url.path.wc(), GENERIC_READ,
                                   FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_RELOAD, reinterpret_cast<DWORD_PTR>(this));
        if (h) request_ = h;
        return h != nullptr;
    });
    if (!result) {
        *total = FtpGetFileSize(request_, nullptr);
        if (*total && *bytesHeld >= *total) result = E_DL_PARTIAL_TOO_LARGE;
    }
    if (result) {
        CloseRequest();
        CloseConnection();
    }
    return result;
}

// ---------------------------------------------------------------------------
// FILE URLs: a local disk or a network share

DWORD FileTransfer::FileSource(const UrlParts& url, uint32_t* bytesHeld, uint32_t* total) {
    sourceKind_ = kSourceLocalFile;
    localSourcePath_ = url.path;
    int slash = url.path.FindLastChar(u'\\');
    WString folder = slash < 0 ? WString() : url.path.Left(slash);
    WString user = url.user;
    WString password = url.password;
    for (;;) {
        DWORD result = 0;
        if (!user.IsEmpty()) {
            NETRESOURCEW resource;
            ZeroMemory(&resource, sizeof resource);
            resource.dwType = RESOURCETYPE_DISK;
            resource.lpRemoteName = const_cast<wchar_t*>(folder.wc());
            result = WNetAddConnection2W(&resource, password.IsEmpty() ? nullptr : password.wc(), user.wc(), 0);
        }
        if (!result) {
            DWORD sizeLow = 0;
            result = GetFileInformation(url.path, nullptr, &sizeLow);
            if (!result) {
                *total = sizeLow;
                *bytesHeld = 0;
                return 0;
            }
        }
        if (result == ERROR_INVALID_PASSWORD || result == ERROR_LOGON_FAILURE || result == ERROR_BAD_USERNAME) {
            if (credentials_) credentials_->description = u"Local Network Server";
            uint32_t answer = Ask(url_, E_DL_AUTH_REQUIRED, credentials_);
            if (observer_ && answer == ERROR_RETRY && credentials_ && !credentials_->userName.IsEmpty()) {
                user = credentials_->userName;
                password = credentials_->password;
                continue;
            }
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

DWORD FileTransfer::QueryAvailable(DWORD* amount) {
    *amount = 0;
    availableOut_ = 0;
    DWORD result = RunAsync(OP_QUERY_AVAILABLE, false, [&]() -> BOOL {
        return InternetQueryDataAvailable(request_, &availableOut_, 0, 0);
    });
    if (result) return result;
    if (!completionResult_) return completionError_;  // 0: nothing more to read
    *amount = completionError_ >= 1 ? completionError_ : availableOut_;
    return 0;
}

DWORD FileTransfer::ReadChunk(DWORD wanted, DWORD* read) {
    *read = 0;
    readOut_ = 0;
    DWORD result = RunAsync(OP_READ, false, [&]() -> BOOL {
        return InternetReadFile(request_, buffer_, wanted, &readOut_);
    });
    if (result) return result;
    if (!completionResult_) return completionError_;
    DWORD count = completionError_ >= 1 ? completionError_ : readOut_;
    *read = count > wanted ? wanted : count;
    return 0;
}

DWORD FileTransfer::ReceiveLoop(uint32_t total, uint32_t bytesHeld) {
    if (observer_) observer_->OnTransferStarted(1, total, targetPath_);
    if (Cancelled()) return E_DL_CANCELLED;
    DWORD result = CreateDirectoryTree(partPath_, false);
    if (result) {
        Report(WString(), result);
        return result;
    }
    UniqueFile part(CreateFileW(partPath_.wc(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                bytesHeld ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!part) {
        result = GetLastError();
        if (Cancelled()) return E_DL_CANCELLED;
        Report(WString(), result);
        return result;
    }
    if (bytesHeld) SetFilePointer(part.Get(), 0, nullptr, FILE_END);
    if (observer_) observer_->OnProgress(bytesHeld);
    if (!buffer_) buffer_ = static_cast<BYTE*>(MemAlloc(kReceiveBufferSize));
    if (!buffer_) {
        Report(WString(), ERROR_NOT_ENOUGH_MEMORY);
        return ERROR_NOT_ENOUGH_MEMORY;
    }

    ReconnectStallGuard stallGuard(bytesHeld);
    for (;;) {
        DWORD amount = 0;
        DWORD read = 0;
        result = QueryAvailable(&amount);
        if (!result && amount) result = ReadChunk(amount < kReceiveBufferSize ? amount : kReceiveBufferSize, &read);
        if (result == E_DL_CANCELLED) return result;
        if (!result && read) {
            DWORD written = 0;
            if (!WriteFile(part.Get(), buffer_, read, &written, nullptr) || written != read) {
                result = GetLastError();
                if (!result) result = ERROR_WRITE_FAULT;
                Report(WString(), result);
                return result;
            }
            if (observer_) observer_->OnProgress(written);
            if (Cancelled()) return E_DL_CANCELLED;
            continue;
        }
        if (!result) {
            // End of data.
            DWORD size = GetFileSize(part.Get(), nullptr);
            if (total == 0 || (size != INVALID_FILE_SIZE && size >= total)) {
                part.Reset();
                return PutPartFileInPlace();
            }
        } else if (!IsReconnectError(result)) {
            Report(WString(), result);
            return result;
        }

        // Reconnect from the part file's size. A reopen that breaks off the
        // same way counts as one more reconnection; the stall guard ends a
        // series of them that brings nothing.
        for (;;) {
            CloseRequest();
            FlushFileBuffers(part.Get());
            DWORD size = GetFileSize(part.Get(), nullptr);
            if (size == INVALID_FILE_SIZE) size = 0;
            if (!stallGuard.MayReconnect(size)) {
                // The server keeps ending the stream without sending anything new.
                Report(WString(), ERROR_INTERNET_TIMEOUT);
                return ERROR_INTERNET_TIMEOUT;
            }
            bytesHeld = size;
            CloseConnection();
            result = OpenSourceWithRetries(&bytesHeld, &total);
            if (IsReconnectError(result)) continue;
            if (!result && size != 0 && bytesHeld != size) result = ERROR_INTERNET_TIMEOUT;  // it sends the whole file again
            break;
        }
        if (result) {
            if (result != E_DL_CANCELLED) Report(WString(), result);
            return result;
        }
    }
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
    if (observer_) observer_->OnFinished(1, 0);
    return 0;
}

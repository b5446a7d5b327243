// HTTP and HTTPS sources of FileTransfer.
#include "download/file_transfer_win.h"

#include "base/grow_retry.h"
#include "download/file_transfer_internal_win.h"
#include "download/transfer_rules.h"
#include "download/wininet_api_win.h"

namespace {

bool IsCertificateError(ResultCode error) {
    return error == ERROR_INTERNET_SEC_CERT_DATE_INVALID || error == ERROR_INTERNET_SEC_CERT_CN_INVALID ||
           error == ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED || error == ERROR_INTERNET_INVALID_CA;
}

// The security flag that lets a request pass once its certificate problem was
// accepted; 0 when no flag covers the problem.
DWORD IgnoreFlagFor(ResultCode error) {
    switch (error) {
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID: return SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
        case ERROR_INTERNET_SEC_CERT_CN_INVALID: return SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
        case ERROR_INTERNET_INVALID_CA: return SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        default: return 0;
    }
}

// A text that WinINet answers into a buffer given in bytes; empty when the
// query fails. A longer text than the buffer is asked for again with the
// size WinINet names.
template <typename Query>
WString QueryText(uint32_t firstCapacity, Query query) {
    WString answer;
    (void)GrowAndRetry(firstCapacity, 4, [&](uint32_t capacity, uint32_t* needed) {
        WString text;
        DWORD bytes = capacity * sizeof(wchar_t);
        const BOOL ok = query(text.GetWBuffer(static_cast<int>(capacity)), &bytes);
        const DWORD units = bytes / sizeof(wchar_t);
        text.ReleaseBuffer(ok ? static_cast<int>(units < capacity ? units : capacity) : 0);
        if (ok) {
            answer = text;
            return QueryStep::kDone;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || units < capacity) return QueryStep::kFailed;
        *needed = units + 1;
        return QueryStep::kGrow;
    });
    return answer;
}

// A header of the answer as text; empty when absent.
WString QueryHeader(HINTERNET request, DWORD header) {
    return QueryText(256, [&](wchar_t* buffer, DWORD* bytes) {
        return WinInet().HttpQueryInfo(request, header, buffer, bytes, nullptr);
    });
}

}  // namespace

// Connects (once) and opens a GET request on the connection.
ResultCode FileTransfer::HttpOpen(const UrlParts& url, bool secure) {
    if (!connection_) {
        const wchar_t* user = url.user.IsEmpty() ? nullptr : url.user.wc();
        const wchar_t* password = url.password.IsEmpty() ? nullptr : url.password.wc();
        ResultCode result = RunAsync(OP_CONNECT, true, [&]() -> BOOL {
            HINTERNET h = WinInet().Connect(root_.Get(), url.host.wc(), url.port, user, password, INTERNET_SERVICE_HTTP,
                                            0, Context());
            if (h) async_->handle = h;
            return h != nullptr;
        });
        connection_.Reset(TakeHandle());
        if (result) return result;
    }
    WString object = url.path + url.extra;
    // Redirects are followed here, hop by hop, never by WinINet (which has
    // no bound of its own everywhere).
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                  INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (secure) flags |= INTERNET_FLAG_SECURE;
    const wchar_t* acceptTypes[] = {L"*/*", nullptr};
    ResultCode result = RunAsync(OP_OPEN_REQUEST, true, [&]() -> BOOL {
        HINTERNET h = WinInet().HttpOpenRequest(connection_.Get(), L"GET", object.wc(), L"HTTP/1.0", L"", acceptTypes,
                                                flags, Context());
        if (h) async_->handle = h;
        return h != nullptr;
    });
    request_.Reset(TakeHandle());
    return result;
}

// Reads what the transfer judges of the answer to the request just sent.
ResultCode FileTransfer::HttpAnswerOf(uint64_t bytesHeld, ResultCode sendError, HttpAnswer* answer) {
    answer->bytesHeld = bytesHeld;
    answer->sendError = sendError;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinInet().HttpQueryInfo(request_.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                                 nullptr)) {
        // A send that failed has no status; its own error tells what went
        // wrong. A send that went through without one met a server that
        // closed without answering.
        status = 0;
    }
    answer->status = status;
    if (status) {
        answer->length = ContentLengthValue(QueryHeader(request_.Get(), HTTP_QUERY_CONTENT_LENGTH));
        answer->range = ParseContentRange(QueryHeader(request_.Get(), HTTP_QUERY_CONTENT_RANGE));
    }
    return 0;
}

// An https request whose answer came from an http URL is judged before any
// byte of its body is written (WinINet is not to follow redirects; this
// holds should one do so nonetheless).
ResultCode FileTransfer::CheckDowngrade() {
    const WString final = QueryText(1024, [&](wchar_t* buffer, DWORD* bytes) {
        return WinInet().QueryOption(request_.Get(), INTERNET_OPTION_URL, buffer, bytes);
    });
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
bool FileTransfer::AcceptCertificateProblem(ResultCode error, DWORD* accepted) {
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

ResultCode FileTransfer::FollowRedirect(const WString& location, WString* current, UrlParts* url, bool* secure,
                                        uint32_t* hops) {
    WString next;
    DWORD length = static_cast<DWORD>(current->Length() + location.Length() + 1024);
    BOOL combined = WinInet().CombineUrl(current->wc(), location.wc(), next.GetWBuffer(static_cast<int>(length)),
                                         &length, ICU_ENCODE_SPACES_ONLY);
    next.ReleaseBuffer(combined ? static_cast<int>(length) : 0);
    UrlParts parts;
    if (!combined || CrackInto(next, &parts) ||
        (parts.scheme != INTERNET_SCHEME_HTTP && parts.scheme != INTERNET_SCHEME_HTTPS)) {
        // Nowhere a transfer of this kind goes: the answer is not the file.
        if (LoggingEnabled) LogLine(u"Redirect not followed, it leads nowhere a download goes:" + UrlForLog(location));
        return E_DL_HTTP_ERROR;
    }
    if (++*hops > kMaxRedirects) {
        if (LoggingEnabled)
            LogLine(WString(u"Download refused, redirected more than ").AppendUnsigned(kMaxRedirects).Append(u" times:") +
                    UrlForLog(url_));
        return E_DL_REDIRECT_LOOP;
    }
    switch (JudgeDowngrade(url_, next, verifiable_)) {
        case Downgrade::None:
            break;
        case Downgrade::Verified:
            if (LoggingEnabled) LogLine(u"Redirect from https to http followed, a hash checks the file:" + UrlForLog(next));
            break;
        case Downgrade::Refused:
            if (LoggingEnabled)
                LogLine(u"Download refused, https redirected to http without a hash to check the file:" + UrlForLog(next));
            return E_DL_INSECURE_REDIRECT;
    }
    CloseRequest();
    connection_.Reset();
    *current = next;
    *url = parts;
    *secure = parts.scheme == INTERNET_SCHEME_HTTPS;
    return HttpOpen(*url, *secure);
}

ResultCode FileTransfer::HttpRequest(const UrlParts& first, bool firstSecure, uint64_t* bytesHeld, uint64_t* total) {
    UrlParts url = first;
    bool secure = firstSecure;
    WString current = url_;
    uint32_t hops = 0;
    const uint64_t knownTotal = *total;
    *total = 0;
    uint64_t held = *bytesHeld;
    // A body that came without a length is asked where it ends: a range
    // from its end, also from byte 0.
    bool proving = proving_;
    ResultCode result = HttpOpen(url, secure);
    WString headers;
    bool ifRange = false;
    if (held || proving) {
        // A part file that keeps the validator of its answer is resumed only
        // while the server's file is the same.
        const WString condition = held ? IfRangeHeader(part_.ReadValidator()) : WString();
        headers = WString(u"Range: bytes=").AppendUnsigned(held).Append(u"-\r\n") + condition;
        ifRange = !condition.IsEmpty();
    }
    DWORD acceptedCertificateErrors = 0;

    while (!result) {
        result = RunAsync(OP_SEND_REQUEST, false, [&]() -> BOOL {
            return WinInet().HttpSendRequest(request_.Get(), headers.IsEmpty() ? nullptr : headers.wc(),
                                             headers.IsEmpty() ? 0 : static_cast<DWORD>(headers.Length()), nullptr, 0);
        });
        if (result == E_DL_CANCELLED) break;
        const ResultCode sendError = result ? result : (async_->completionResult ? 0 : async_->completionError);
        HttpAnswer answer;
        result = HttpAnswerOf(held, sendError, &answer);
        if (!result && secure && answer.status) result = CheckDowngrade();
        if (result) break;
        if (IsRedirectStatus(answer.status)) {
            const WString location = QueryHeader(request_.Get(), HTTP_QUERY_LOCATION);
            if (!location.IsEmpty()) {
                // Sent again, with the same headers, where it leads.
                result = FollowRedirect(location, &current, &url, &secure, &hops);
                continue;
            }
        }
        answer.knownTotal = knownTotal;
        answer.ifRange = ifRange;
        answer.proving = proving;

        const HttpDecision decision = ClassifyHttpAnswer(answer);
        switch (decision.step) {
            case HttpStep::Receive:
            case HttpStep::PartComplete:
                *total = decision.total;
                *bytesHeld = decision.bytesHeld;
                pieceEnd_ = decision.pieceEnd;
                if (decision.changed && LoggingEnabled)
                    LogLine(u"File changed on the server, downloading it again from the start:" + UrlForLog(url_));
                // An answer from the first byte begins the part file afresh
                // and is what later resumptions must still find.
                if (!decision.bytesHeld)
                    answerValidator_ = ChooseValidator(QueryHeader(request_.Get(), HTTP_QUERY_ETAG),
                                                       QueryHeader(request_.Get(), HTTP_QUERY_LAST_MODIFIED));
                if (decision.step == HttpStep::Receive) return 0;  // the handles stay for the receive loop
                sourceKind_ = kSourceComplete;
                break;
            case HttpStep::RequestWhole:
                // The answer does not continue the part file: ask for the
                // whole file on a new request; the part file is recreated
                // only when that answer is the whole file.
                CloseRequest();
                held = 0;
                proving = false;
                headers.Clear();
                ifRange = false;
                result = HttpOpen(url, secure);
                continue;
            case HttpStep::Resume:
                // No answer, or one that does not tell where the file ends:
                // resumed like a broken connection, the part file as it is.
                result = E_DL_INCOMPLETE;
                break;
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

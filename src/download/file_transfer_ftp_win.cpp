// FTP sources of FileTransfer.
#include "download/file_transfer_win.h"

#include "download/file_transfer_internal_win.h"
#include "download/transfer_rules.h"
#include "download/wininet_api_win.h"

ResultCode FileTransfer::FtpRequest(const UrlParts& url, uint64_t* bytesHeld, uint64_t* total) {
    const uint64_t knownTotal = *total;
    *total = 0;
    WString user = url.user;
    WString password = url.password;
    ResultCode result = kResultOk;
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
    // Every download asks the file's size: the end of the stream is the
    // file's end only when it is where the size says.
    uint64_t serverSize = 0;
    if (!result) result = FtpServerSize(url.path, &serverSize);
    FtpDecision decision;
    if (!result) {
        decision = ClassifyFtpSize(serverSize, *bytesHeld, knownTotal, proving_);
        switch (decision.step) {
            case FtpStep::Fail: result = decision.code; break;
            case FtpStep::Resume: result = E_DL_INCOMPLETE; break;
            case FtpStep::PartComplete:
                sourceKind_ = kSourceComplete;
                *total = decision.total;
                *bytesHeld = decision.bytesHeld;
                return 0;
            case FtpStep::Receive: break;
        }
    }
    if (!result && decision.rest) {
        uint32_t reply = 0;
        result = FtpCommandReply(WString(u"REST ").AppendUnsigned(decision.bytesHeld), &reply);
        // Another reply than 350: the server sends the whole file.
        if (!result && reply != 350) decision.bytesHeld = 0;
    }
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
        *total = decision.total;
        *bytesHeld = decision.bytesHeld;
        if (!*total && !*bytesHeld) {
            // No SIZE answer: what WinINet learnt of the whole file (Wine
            // answers 0).
            DWORD high = 0;
            SetLastError(NO_ERROR);
            const DWORD low = WinInet().FtpGetFileSize(request_.Get(), &high);
            if (!(low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR))
                *total = (static_cast<uint64_t>(high) << 32) | low;
        }
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
ResultCode FileTransfer::FtpCommandReply(const WString& command, uint32_t* reply) {
    *reply = 0;
    async_->lastResponse.Clear();
    ResultCode result = RunAsync(OP_FTP_COMMAND, false, [&]() -> BOOL {
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

// The size the server tells of the file (0 when it tells none).
ResultCode FileTransfer::FtpServerSize(const WString& path, uint64_t* size) {
    *size = 0;
    uint32_t reply = 0;
    // Many servers answer SIZE only in binary mode, the mode of the transfer.
    ResultCode result = FtpCommandReply(u"TYPE I", &reply);
    if (!result) result = FtpCommandReply(u"SIZE " + path, &reply);
    if (!result && reply == 213) *size = FtpSizeReplyValue(async_->lastResponse);
    return result;
}

// FTP sources of FileTransfer.
#include "download/file_transfer_win.h"

#include "download/file_transfer_internal_win.h"
#include "download/transfer_rules.h"
#include "download/wininet_api_win.h"

ResultCode FileTransfer::FtpRequest(const UrlParts& url, uint32_t* bytesHeld, uint32_t* total) {
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

// A part file is continued only when the server tells the file's size (so
// that the end can be checked) and takes the restart offset; otherwise the
// file comes again whole.
ResultCode FileTransfer::FtpResume(const WString& path, uint32_t* bytesHeld, uint64_t* serverSize) {
    uint32_t reply = 0;
    // Many servers answer SIZE only in binary mode, the mode of the transfer.
    ResultCode result = FtpCommandReply(u"TYPE I", &reply);
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

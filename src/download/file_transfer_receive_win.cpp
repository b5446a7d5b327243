// The receive loop of FileTransfer: the body of an internet source into the
// part file, its digests, reconnections, and the finished part file.
#include "download/file_transfer_win.h"

#include "download/file_transfer_internal_win.h"
#include "download/transfer_rules.h"
#include "download/wininet_api_win.h"
#include "platform/fileops_win.h"
#include "platform/protected_folder_win.h"

namespace {

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

}  // namespace

// ---------------------------------------------------------------------------
// Receive loop

// Reads the next piece of the body into the buffer; read 0 at the end.
// Every read hands over what has come so far, never waiting for the buffer
// to fill: a slow server's bytes reach the part file as they come, and a
// connection that breaks takes no received byte with it. An HTTP body is
// read without waiting (what is there, up to the whole buffer; a read that
// finds nothing waits for data and is made again). An FTP stream, whose
// reads wait for the whole buffer, asks how much is available and reads
// that much.
ResultCode FileTransfer::ReadChunk(DWORD* read) {
    TransferAsyncState* state = async_.Get();
    *read = 0;
    if (!state) return ERROR_NOT_ENOUGH_MEMORY;
    if (!state->buffer) state->buffer = static_cast<BYTE*>(MemAlloc(kReceiveBufferSize));
    if (!state->buffer) return ERROR_NOT_ENOUGH_MEMORY;
    while (readsWithoutWait_) {
        INTERNET_BUFFERSA& buffers = state->readBuffers;
        ZeroMemory(&buffers, sizeof(buffers));
        buffers.dwStructSize = sizeof(buffers);
        buffers.lpvBuffer = state->buffer;
        buffers.dwBufferLength = kReceiveBufferSize;
        const ResultCode result = RunAsync(OP_READ, false, [&]() -> BOOL {
            return WinInet().ReadFileEx(request_.Get(), &buffers, IRF_NO_WAIT, Context());
        });
        if (result == ERROR_CALL_NOT_IMPLEMENTED || result == ERROR_INVALID_PARAMETER) {
            readsWithoutWait_ = false;  // this WinINet has no such read: ask first
            break;
        }
        if (result) return result;
        if (!state->completionResult) return state->completionError;
        if (!state->pended) {
            *read = buffers.dwBufferLength > kReceiveBufferSize ? kReceiveBufferSize : buffers.dwBufferLength;
            return 0;
        }
        // It waited until data came and read nothing: read it now.
    }
    state->availableOut = 0;
    ResultCode result = RunAsync(OP_QUERY_AVAILABLE, false, [&]() -> BOOL {
        return WinInet().QueryDataAvailable(request_.Get(), &state->availableOut, 0, 0);
    });
    if (result) return result;
    if (!state->completionResult) return state->completionError;  // 0: nothing more to read
    DWORD wanted = state->completionError >= 1 ? state->completionError : state->availableOut;
    if (!wanted) return 0;
    if (wanted > kReceiveBufferSize) wanted = kReceiveBufferSize;
    state->readOut = 0;
    result = RunAsync(OP_READ, false, [&]() -> BOOL {
        return WinInet().ReadFile(request_.Get(), state->buffer, wanted, &state->readOut);
    });
    if (result) return result;
    if (!state->completionResult) return state->completionError;
    const DWORD count = state->completionError >= 1 ? state->completionError : state->readOut;
    *read = count > wanted ? wanted : count;
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
    HANDLE file = CreateFileW(partPath_.wc(), access, FILE_SHARE_READ, nullptr, resume ? OPEN_EXISTING : CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && !resume && GetLastError() == ERROR_ACCESS_DENIED && DeleteFileLong(partPath_)) {
        // A part file this run may not write, but whose folder lets it go.
        file = CreateFileW(partPath_.wc(), access, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    return file;
}

ResultCode FileTransfer::ReceiveLoop(uint32_t total, uint32_t bytesHeld) {
    if (observer_) observer_->OnTransferStarted(kStartedStream, total, targetPath_);
    if (Cancelled()) return E_DL_CANCELLED;
    ResultCode result = CreateDirectoryTree(partPath_, false);
    if (result) return Fail(result);
    // Readers may look, nobody else writes or deletes while the digests are
    // computed over what is written here.
    UniqueFile part(OpenPartFile(bytesHeld != 0));
    if (!part) {
        result = GetLastError();
        if (Cancelled()) return E_DL_CANCELLED;
        return Fail(result);
    }
    if (!bytesHeld) BeginPartValidator();
    if (async_ && !async_->buffer) async_->buffer = static_cast<BYTE*>(MemAlloc(kReceiveBufferSize));
    if (!async_ || !async_->buffer) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    RestartHashes();
    // The digests are computed beside the receiving; in place when no
    // thread can be had.
    if ((!expectedMd5_.IsEmpty() || !expectedSha256_.IsEmpty()) && !digests_.Running())
        (void)digests_.Start(expectedMd5_.IsEmpty() ? nullptr : &md5_, expectedSha256_.IsEmpty() ? nullptr : &sha256_);
    result = HashHeldBytes(part.Get(), bytesHeld);
    if (result) return Fail(result);
    if (observer_) observer_->OnProgress(bytesHeld);

    ReconnectStallGuard stallGuard(bytesHeld);
    seriesFault_ = 0;
    stalls_ = 0;
    stallSize_ = bytesHeld;
    uint64_t held = bytesHeld;
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
                    return Fail(result ? result : ERROR_WRITE_FAULT);
                }
                held += written;
                HashWritten(async_->buffer, written);
                if (observer_) observer_->OnProgress(written);
                if (Cancelled()) return E_DL_CANCELLED;
                continue;
            }
        } else if (result && !IsReconnectError(result) && !IsStall(result)) {
            return Fail(result);
        } else {
            end = JudgeBodyEnd(held, total, pieceEnd_, result != 0);
        }
        ResultCode fault = kResultOk;
        switch (end) {
            case BodyEnd::Complete:
                if (!FinishedPartMatches(held)) {
                    // Not the file asked for: the next attempt starts afresh.
                    part.Reset();
                    DeleteFileLong(partPath_);
                    DropPartValidator();
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
                fault = IsStall(result) ? E_DL_STALLED : E_DL_INCOMPLETE;
                break;
            case BodyEnd::Overrun:
                // The source sent more than the file has (an FTP server that
                // forgot the restart offset): what the part file holds is not
                // known to be the file's head. It starts again from zero.
                if (LoggingEnabled) LogLine(u"More data than the file has, downloading it again from the start:" + UrlForLog(url_));
                SetFilePointer(part.Get(), 0, nullptr, FILE_BEGIN);
                SetEndOfFile(part.Get());
                DropPartValidator();
                RestartHashes();
                held = 0;
                forceWhole_ = true;
                fault = E_DL_INCOMPLETE;
                break;
        }
        result = Reconnect(part.Get(), &stallGuard, &total, fault);
        if (result) return result == E_DL_CANCELLED ? result : Fail(result);
        uint32_t size = 0;
        held = FileSize32(part.Get(), &size) ? size : held;
    }
}

// Opens the source again from the part file's size, after a short pause
// when the connection ended early. A series of reconnections that bring
// nothing new ends with the fault that began it; a source that now sends the
// whole file starts the part file again.
ResultCode FileTransfer::Reconnect(HANDLE partFile, ReconnectStallGuard* guard, uint32_t* total, ResultCode fault) {
    for (;;) {
        CloseRequest();
        FlushFileBuffers(partFile);
        uint32_t size = 0;
        if (!FileSize32(partFile, &size)) return E_DL_FILE_TOO_LARGE;
        const int before = guard->FruitlessInARow();
        if (size != stallSize_) {
            stallSize_ = size;
            stalls_ = 0;
        }
        const bool stallsSpent = fault == E_DL_STALLED && ++stalls_ > ReconnectStallGuard::kMaxStallResumes;
        if (stallsSpent || !guard->MayReconnect(size)) {
            if (stallsSpent) seriesFault_ = E_DL_STALLED;
            const ResultCode code = seriesFault_ ? seriesFault_ : E_DL_INCOMPLETE;
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
        connection_.Reset();
        const ResultCode result = OpenSourceWithRetries(&bytesHeld, total);
        if (IsReconnectError(result) || IsStall(result)) {
            fault = IsStall(result) ? E_DL_STALLED : E_DL_INCOMPLETE;
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
        if (!bytesHeld) BeginPartValidator();
        if (expectedSize_ && *total && *total != expectedSize_) return E_DL_SIZE_MISMATCH;
        return 0;
    }
}

void FileTransfer::SetExpectedDigests(const WString& md5, const WString& sha256) {
    expectedMd5_ = md5.Trimmed();
    expectedSha256_ = sha256.Trimmed();
}

void FileTransfer::RestartHashes() {
    digests_.Finish();
    md5_.Reset();
    sha256_.Reset();
}

void FileTransfer::HashWritten(const BYTE* bytes, DWORD count) {
    static_assert(kReceiveBufferSize <= BackgroundDigests::kSlotSize, "a piece fits a slot");
    if (digests_.Running()) {
        digests_.Add(bytes, count);
        return;
    }
    if (!expectedMd5_.IsEmpty()) md5_.Update(bytes, count);
    if (!expectedSha256_.IsEmpty()) sha256_.Update(bytes, count);
}

// Hashes what a resumed part file already holds, read through the handle the
// transfer writes with, and leaves the file pointer at its end.
ResultCode FileTransfer::HashHeldBytes(HANDLE partFile, uint32_t bytesHeld) {
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
    digests_.Stop();
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

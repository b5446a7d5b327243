// The receive loop of FileTransfer: the body of an internet source into the
// part file, its digests, reconnections, and the finished part file.
#include "download/file_transfer_win.h"

#include "download/file_transfer_internal_win.h"
#include "download/transfer_rules.h"
#include "download/wininet_api_win.h"
#include "platform/fileops_win.h"
#include "platform/protected_folder_win.h"

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

ResultCode FileTransfer::ReceiveLoop(uint64_t total, uint64_t bytesHeld) {
    // Without a length from the server, ExactSize tells the user how far it is.
    if (observer_) observer_->OnTransferStarted(kStartedStream, total ? total : expected_.size, targetPath_);
    if (Cancelled()) return E_DL_CANCELLED;
    if (async_ && !async_->buffer) async_->buffer = static_cast<BYTE*>(MemAlloc(kReceiveBufferSize));
    if (!async_ || !async_->buffer) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    // Readers may look, nobody else writes or deletes while the digests are
    // computed over what is written here.
    ResultCode result = part_.Prepare(bytesHeld, observer_);
    if (result) return result == E_DL_CANCELLED ? result : Fail(result);
    if (!bytesHeld) part_.WriteValidator(answerValidator_);
    if (observer_) observer_->OnProgress(bytesHeld);

    ReconnectStallGuard stallGuard(bytesHeld);
    seriesFault_ = 0;
    stalls_ = 0;
    stallSize_ = bytesHeld;
    for (;;) {
        // The server confirmed that the part file holds the whole file.
        if (sourceKind_ == kSourceComplete) return FinishPartFile();
        DWORD read = 0;
        result = ReadChunk(&read);
        if (result == E_DL_CANCELLED) return result;
        const uint64_t held = part_.Held();
        BodyEnd end = BodyEnd::Complete;
        if (!result && read) {
            if (JudgeBodyEnd(held + read, total, pieceEnd_, true) == BodyEnd::Overrun) {
                end = BodyEnd::Overrun;
            } else if (part_.WouldPassExpectedSize(read)) {
                // More bytes than ExactSize allows: not the file, whatever
                // follows. Nothing more is written.
                if (LoggingEnabled)
                    LogLine(WString(u"Downloaded size differs from the expected size:").AppendUnsigned(expected_.size));
                part_.Discard();
                return E_DL_FILE_REJECTED;
            } else {
                result = part_.Append(async_->buffer, read);
                if (result) return Fail(result);
                if (observer_) observer_->OnProgress(read);
                if (Cancelled()) return E_DL_CANCELLED;
                continue;
            }
        } else if (result && !IsReconnectError(result) && !IsStall(result)) {
            return Fail(result);
        } else {
            // ExactSize stands for a total the source did not tell.
            end = JudgeBodyEnd(held, total ? total : expected_.size, pieceEnd_, result != 0);
        }
        ResultCode fault = kResultOk;
        switch (end) {
            case BodyEnd::Complete:
                return FinishPartFile();
            case BodyEnd::RequestRest:
                break;
            case BodyEnd::Unproven:
                // The body ended cleanly without a length. A digest that
                // matches the bytes held proves them whole; otherwise the
                // server is asked where the file ends, and until it says,
                // this is a connection that ended early.
                if (part_.DigestsProveWhole()) return FinishPartFile();
                fault = E_DL_INCOMPLETE;
                break;
            case BodyEnd::EarlyClose:
                fault = IsStall(result) ? E_DL_STALLED : E_DL_INCOMPLETE;
                break;
            case BodyEnd::Overrun:
                // The source sent more than the file has (an FTP server that
                // forgot the restart offset): what the part file holds is not
                // known to be the file's head. It starts again from zero.
                if (LoggingEnabled) LogLine(u"More data than the file has, downloading it again from the start:" + UrlForLog(url_));
                result = part_.Prepare(0, observer_);
                if (result) return Fail(result);
                forceWhole_ = true;
                fault = E_DL_INCOMPLETE;
                break;
        }
        result = Reconnect(&stallGuard, &total, fault);
        if (result) return result == E_DL_CANCELLED ? result : Fail(result);
    }
}

// The part file, judged whole, takes the target's name; one that fails is
// gone, and the next attempt starts afresh.
ResultCode FileTransfer::FinishPartFile() {
    const Verdict verdict = part_.Judge(&verifiedWhileWriting_);
    if (verdict == Verdict::Cancelled) return E_DL_CANCELLED;
    if (verdict != Verdict::Accepted) return E_DL_FILE_REJECTED;
    const ResultCode result = part_.PutInPlace();
    if (result) {
        verifiedWhileWriting_ = false;
        return Fail(result);
    }
    if (observer_) observer_->OnFinished(kFinishedTransfer, 0);
    return 0;
}

// Opens the source again from the part file's size, after a short pause
// when the connection ended early. A series of reconnections that bring
// nothing new ends with the fault that began it; a source that now sends the
// whole file starts the part file again. While the total is not known (and
// no ExactSize stands for it), the request asks where the file ends.
ResultCode FileTransfer::Reconnect(ReconnectStallGuard* guard, uint64_t* total, ResultCode fault) {
    for (;;) {
        CloseRequest();
        part_.Flush();
        const uint64_t size = part_.Held();
        const int before = guard->FruitlessInARow();
        if (size != stallSize_) {
            stallSize_ = size;
            stalls_ = 0;
        }
        const bool stallsSpent = fault == E_DL_STALLED && ++stalls_ > ReconnectStallGuard::kMaxStallResumes;
        if (stallsSpent || !guard->MayReconnect(size)) {
            if (stallsSpent) seriesFault_ = E_DL_STALLED;
            const ResultCode code = seriesFault_ ? seriesFault_ : E_DL_INCOMPLETE;
            if (LoggingEnabled) LogLine(HeldLine(u"Download still incomplete after resuming, bytes held:", size, *total));
            return code;
        }
        if (guard->FruitlessInARow() <= before || !seriesFault_) seriesFault_ = fault;
        if (fault) {
            if (LoggingEnabled) LogLine(WString(u"Connection ended early, resuming at:").AppendUnsigned(size));
            const bool silent = fault == E_DL_STALLED;
            if (!WaitBeforeTry(silent ? WaitReason::ServerSilent : WaitReason::ConnectionLost,
                               silent ? stalls_ : guard->FruitlessInARow() + 1,
                               silent ? ReconnectStallGuard::kMaxStallResumes : ReconnectStallGuard::kMaxStalledReconnects,
                               ResumePauseMs(guard->FruitlessInARow())))
                return E_DL_CANCELLED;
        }
        uint64_t bytesHeld = forceWhole_ ? 0 : size;
        proving_ = !forceWhole_ && !*total && !expected_.size;
        connection_.Reset();
        const ResultCode result = OpenSourceWithRetries(&bytesHeld, total);
        proving_ = false;
        if (IsReconnectError(result) || IsStall(result)) {
            fault = IsStall(result) ? E_DL_STALLED : E_DL_INCOMPLETE;
            continue;
        }
        if (result) return result;
        forceWhole_ = false;
        if (expected_.size && *total && *total != expected_.size) return E_DL_SIZE_MISMATCH;
        const ResultCode room = CheckVolumeRoom(*total, bytesHeld == size ? size : 0);
        if (room) return room;
        if (bytesHeld != size) {
            // The whole file comes again: the part file starts over with it.
            const ResultCode restarted = part_.Prepare(0, observer_);
            if (restarted) return restarted;
        }
        if (!bytesHeld) part_.WriteValidator(answerValidator_);
        return 0;
    }
}

ResultCode FileTransfer::CheckVolumeRoom(uint64_t total, uint64_t held) {
    if (!total) total = expected_.size;
    uint64_t freeBytes = 0;
    WString fileSystem;
    // A volume that tells nothing is not refused: the writes tell.
    if (!total || !VolumeSpaceOf(part_.FolderPath(), &freeBytes, &fileSystem)) return 0;
    switch (JudgeVolumeRoom(total, held, freeBytes, LargestFileOn(fileSystem))) {
        case VolumeRoom::Fits:
            return 0;
        case VolumeRoom::FileTooLarge:
            if (LoggingEnabled)
                LogLine(WString(u"Download refused, the file is larger than its volume can hold:") + UrlForLog(url_));
            return E_DL_FILE_TOO_LARGE;
        case VolumeRoom::Full:
            break;
    }
    if (LoggingEnabled)
        LogLine(WString(u"Download refused, too little free space on its volume, bytes needed:")
                    .AppendUnsigned(total - (held < total ? held : total))
                    .Append(u" free:")
                    .AppendUnsigned(freeBytes));
    return E_DL_DISK_FULL;
}

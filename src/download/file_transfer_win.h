// One transfer of one URL (HTTP, HTTPS, FTP, FILE) into a target path
// through a ".part" file that a later run continues. WinINet runs in
// asynchronous mode; the calling thread waits for each call and polls the
// observer's cancellation every 10 ms.
#pragma once

#include <windows.h>
#include <wininet.h>
#include <stdint.h>

#include "base/owned.h"
#include "base/result.h"
#include "base/wstr.h"
#include "download/background_digests_win.h"
#include "download/md5.h"
#include "download/sha256.h"
#include "download/result_codes.h"
#include "download/transfer_observer.h"
#include "download/transfer_rules.h"
#include "platform/fileops_win.h"
#include "download/wininet_api_win.h"

// The copy of a FILE URL reports through this routine of CopyFileExW:
// OnTransferStarted when a stream starts, progress at most every 200 ms and
// when the copy reaches the total, PROGRESS_CANCEL when the observer cancels.
struct LocalCopyContext {
    TransferObserver* observer;
    uint32_t running;
    uint32_t reported;
    DWORD lastReportTick;
    uint32_t total;
    uint64_t lastTransferred;
};
DWORD CALLBACK LocalCopyProgress(LARGE_INTEGER totalFileSize, LARGE_INTEGER totalTransferred, LARGE_INTEGER streamSize,
                                 LARGE_INTEGER streamTransferred, DWORD streamNumber, DWORD reason, HANDLE source,
                                 HANDLE destination, LPVOID data);

// What the status callback shares with the transfer thread (defined in
// file_transfer_internal_win.h). It lives on the heap: when a closing handle
// does not report back in time, the transfer leaves it behind rather than let
// WinINet write into an object that is gone.
struct TransferAsyncState;

class FileTransfer {
public:
    // Codes of the asynchronous call in flight.
    enum PendingOperation {
        OP_CONNECT = 0,
        OP_FTP_OPEN = 2,
        OP_READ = 3,
        OP_FTP_COMMAND = 4,
        OP_OPEN_REQUEST = 6,
        OP_SEND_REQUEST = 7,
        OP_QUERY_AVAILABLE = 8,
    };
    static constexpr int kRetryBudget = 6;
    static constexpr DWORD kReceiveBufferSize = 51200;
    // A call that brings nothing for this long (a server that stopped
    // sending, or never answers) is dropped; connect, send and receive
    // timeouts of WinINet are set to it too.
    static constexpr DWORD kNoDataLimitMs = 60000;

    FileTransfer(TransferObserver* observer, CredentialStore* credentials);
    ~FileTransfer();
    FileTransfer(const FileTransfer&) = delete;
    FileTransfer& operator=(const FileTransfer&) = delete;

    // 0 = no expected size.
    void SetExpectedSize(uint32_t size) { expectedSize_ = size; }
    // Digests (hexadecimal, either may be empty) computed over the bytes as
    // they are written and compared, with the expected size, before the
    // part file becomes the target. A mismatch deletes the part file and
    // answers E_DL_FILE_REJECTED.
    void SetExpectedDigests(const WString& md5, const WString& sha256);
    // True when the file can be checked by a hash: an https URL redirected
    // to http is followed only then.
    void SetVerifiable(bool verifiable) { verifiable_ = verifiable; }
    // True after a successful Download whose given digests were computed
    // over the written bytes and matched.
    bool VerifiedWhileWriting() const { return verifiedWhileWriting_; }
    // For an elevated run: a part file started afresh is created under the
    // protected folder's descriptor, so that once written only SYSTEM and
    // Administrators can change it.
    void SetProtectWhileWriting(bool protect) { protect_ = protect; }
    // True after a successful Download whose whole file was written into a
    // part file created so.
    bool ProtectedWhileWriting() const { return protectedWhileWriting_; }
    // The file the last successful Download wrote (now the target); not
    // known for a copied local file.
    const FileIdentity& WrittenIdentity() const { return written_; }
    // Runs the whole transfer once; 0 or a result code.
    [[nodiscard]] ResultCode Download(const WString& url, const WString& targetPath);

private:
    enum SourceKind { kSourceInternet, kSourceLocalFile, kSourceComplete };
    struct UrlParts;

    // Runs one WinINet call with the asynchronous pattern; call() answers the
    // call's BOOL result (a handle-yielding call stores its handle in the
    // shared state). 0, the immediate error, E_DL_STALLED or E_DL_CANCELLED.
    // Defined in file_transfer_internal_win.h.
    template <typename Call>
    [[nodiscard]] ResultCode RunAsync(int operation, bool yieldsHandle, Call call);
    // The handle of the last handle-yielding call, taken over by the caller.
    HINTERNET TakeHandle();
    DWORD_PTR Context() const { return reinterpret_cast<DWORD_PTR>(async_.Get()); }

    [[nodiscard]] ResultCode OpenRoot();
    void CloseRequest();
    void CloseAll();

    [[nodiscard]] ResultCode CheckUrl();
    [[nodiscard]] ResultCode OpenFirstTime(uint32_t* bytesHeld, uint32_t* total);
    [[nodiscard]] ResultCode OpenSourceWithRetries(uint32_t* bytesHeld, uint32_t* total);
    [[nodiscard]] ResultCode OpenUrl(uint32_t* bytesHeld, uint32_t* total);
    [[nodiscard]] ResultCode HttpRequest(const UrlParts& url, bool secure, uint32_t* bytesHeld, uint32_t* total);
    [[nodiscard]] ResultCode HttpOpen(const UrlParts& url, bool secure);
    [[nodiscard]] ResultCode HttpAnswerOf(uint32_t bytesHeld, ResultCode sendError, HttpAnswer* answer);
    [[nodiscard]] bool AcceptCertificateProblem(ResultCode error, DWORD* accepted);
    [[nodiscard]] bool AskForCredentials(const char16_t* description);
    [[nodiscard]] ResultCode FtpRequest(const UrlParts& url, uint32_t* bytesHeld, uint32_t* total);
    [[nodiscard]] ResultCode FtpCommandReply(const WString& command, uint32_t* reply);
    [[nodiscard]] ResultCode FtpResume(const WString& path, uint32_t* bytesHeld, uint64_t* serverSize);
    [[nodiscard]] ResultCode FileSource(const UrlParts& url, uint32_t* bytesHeld, uint32_t* total);
    [[nodiscard]] ResultCode ReceiveLoop(uint32_t total, uint32_t bytesHeld);
    // Opens the part file to continue it, or creates it afresh (under the
    // protected descriptor when asked to).
    HANDLE OpenPartFile(bool resume);
    [[nodiscard]] ResultCode ReadChunk(DWORD* read);
    [[nodiscard]] ResultCode Reconnect(HANDLE partFile, ReconnectStallGuard* guard, uint32_t* total, ResultCode fault);
    [[nodiscard]] ResultCode CheckDowngrade();
    [[nodiscard]] ResultCode HashHeldBytes(HANDLE partFile, uint32_t bytesHeld);
    void HashWritten(const BYTE* bytes, DWORD count);
    void RestartHashes();
    [[nodiscard]] bool FinishedPartMatches(uint64_t size);
    [[nodiscard]] ResultCode LocalCopy();
    [[nodiscard]] ResultCode PutPartFileInPlace();
    // The validator kept beside the part file (None when there is none or
    // it is malformed); BeginPartValidator replaces it with the one of the
    // answer that begins a fresh part file, DropPartValidator deletes it.
    Validator PartValidator() const;
    void BeginPartValidator();
    void DropPartValidator();
    [[nodiscard]] bool PauseUnlessCancelled(DWORD milliseconds);

    bool Cancelled();
    // Puts a code to the observer; its answer (see TransferObserver::OnError).
    uint32_t Ask(const WString& context, ResultCode code, void* handle);
    void Report(const WString& context, ResultCode code) { (void)Ask(context, code, nullptr); }
    // Reports a failure to the observer and answers it.
    ResultCode Fail(ResultCode code) { return FailFor(WString(), code); }
    ResultCode FailFor(const WString& context, ResultCode code) {
        Report(context, code);
        return code;
    }
    WString TargetFileName() const;

    Owned<TransferAsyncState> async_;  // given up only as described above
    UniqueInternet request_;
    UniqueInternet connection_;
    UniqueInternet root_;
    TransferObserver* observer_;
    CredentialStore* credentials_;
    WString targetPath_;
    WString partPath_;
    WString validatorPath_;  // <target>.part.validator
    WString url_;
    int retryBudget_ = kRetryBudget;
    uint32_t expectedSize_ = 0;

    // The source as opened: an internet stream, a local file path, or the
    // part file itself when it already holds the whole file.
    SourceKind sourceKind_ = kSourceInternet;
    WString localSourcePath_;
    // The source's reads hand over what is there without waiting (HTTP);
    // an FTP stream is asked how much is available first.
    bool readsWithoutWait_ = false;
    // Retry-After of the last answer that asked to come back later.
    WString retryAfter_;
    bool verifiable_ = false;
    // Digests expected of the file, and computed over the part file as it
    // is written.
    WString expectedMd5_;
    WString expectedSha256_;
    Md5 md5_;
    Sha256 sha256_;
    // Declared after the digests it updates, so that it ends first.
    BackgroundDigests digests_;
    bool verifiedWhileWriting_ = false;
    bool protect_ = false;
    bool protectedWhileWriting_ = false;
    FileIdentity written_;
    // Where the body of the answer being received ends (a 206's last byte
    // + 1); 0 = at the total.
    uint32_t pieceEnd_ = 0;
    // The part file was not the file (more bytes came than it has): the
    // next request asks for the whole file.
    bool forceWhole_ = false;
    // The validator of the last answer that begins the part file afresh.
    Validator answerValidator_;
    // The fault that began the current series of resumptions without a new
    // byte.
    ResultCode seriesFault_ = kResultOk;
    // Stalls in a row at the part file's size stallSize_.
    int stalls_ = 0;
    uint32_t stallSize_ = 0;
};

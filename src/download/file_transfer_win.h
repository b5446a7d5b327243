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
#include "download/file_verdict.h"
#include "download/part_file_win.h"
#include "download/result_codes.h"
#include "download/transfer_observer.h"
#include "download/transfer_rules.h"
#include "platform/fileops_win.h"
#include "download/wininet_api_win.h"

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

    // What the file must be (ExactSize, MD5, SHA256): the size and digests
    // are computed over the bytes as they are written and judged before the
    // part file becomes the target; a file that fails is deleted and the
    // transfer answers E_DL_FILE_REJECTED.
    void SetExpected(const ExpectedFile& expected) { expected_ = expected; }
    // True when the file can be checked by a hash: an https URL redirected
    // to http is followed only then.
    void SetVerifiable(bool verifiable) { verifiable_ = verifiable; }
    // For an elevated run: a part file begun afresh is created under the
    // protected folder's descriptor, so that once written only SYSTEM and
    // Administrators can change it.
    void SetProtectWhileWriting(bool protect) { protect_ = protect; }
    // The download comes from mirror k (from 2 on): it keeps a part file of
    // its own (see PartFile::Bind).
    void SetMirror(int mirror) { mirror_ = mirror; }
    // The download folder the target lies below: the part file's folder is
    // held from there down, so no link on the way is followed.
    void SetDownloadRoot(const WString& root) { downloadRoot_ = root; }
    // True after a successful Download whose given digests were computed
    // over the written bytes and matched.
    bool VerifiedWhileWriting() const { return verifiedWhileWriting_; }
    // After a successful Download: the hold on the target and the verdict
    // that stands for it (see PartFile::HandOver).
    // Cancelled when the observer cancels while the hold's bytes are read.
    Verdict HandOver(VerifiedFile* hold) { return part_.HandOver(hold, observer_); }
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
    [[nodiscard]] ResultCode OpenFirstTime(uint64_t* bytesHeld, uint64_t* total);
    [[nodiscard]] ResultCode OpenSourceWithRetries(uint64_t* bytesHeld, uint64_t* total);
    [[nodiscard]] ResultCode OpenUrl(uint64_t* bytesHeld, uint64_t* total);
    [[nodiscard]] ResultCode CrackInto(const WString& url, UrlParts* parts);
    // A redirect answered to the request: the request is opened again for
    // its Location (resolved against *current), counted in *hops. 0, or why
    // it is not followed.
    [[nodiscard]] ResultCode FollowRedirect(const WString& location, WString* current, UrlParts* url, bool* secure,
                                            uint32_t* hops);
    [[nodiscard]] ResultCode HttpRequest(const UrlParts& url, bool secure, uint64_t* bytesHeld, uint64_t* total);
    [[nodiscard]] ResultCode HttpOpen(const UrlParts& url, bool secure);
    [[nodiscard]] ResultCode HttpAnswerOf(uint64_t bytesHeld, ResultCode sendError, HttpAnswer* answer);
    [[nodiscard]] bool AcceptCertificateProblem(ResultCode error, DWORD* accepted);
    [[nodiscard]] bool AskForCredentials(const char16_t* description);
    [[nodiscard]] ResultCode FtpRequest(const UrlParts& url, uint64_t* bytesHeld, uint64_t* total);
    [[nodiscard]] ResultCode FtpCommandReply(const WString& command, uint32_t* reply);
    // TYPE I and SIZE: the size the server tells (0 when none).
    [[nodiscard]] ResultCode FtpServerSize(const WString& path, uint64_t* size);
    [[nodiscard]] ResultCode FileSource(const UrlParts& url, uint64_t* bytesHeld, uint64_t* total);
    [[nodiscard]] ResultCode ReceiveLoop(uint64_t total, uint64_t bytesHeld);
    [[nodiscard]] ResultCode ReadChunk(DWORD* read);
    [[nodiscard]] ResultCode Reconnect(ReconnectStallGuard* guard, uint64_t* total, ResultCode fault);
    // The rest of a file of total bytes (0 unknown: ExactSize, if given,
    // stands for it) must fit the target's volume: 0, E_DL_FILE_TOO_LARGE or
    // E_DL_DISK_FULL, logged.
    [[nodiscard]] ResultCode CheckVolumeRoom(uint64_t total, uint64_t held);
    // The judged part file becomes the target.
    [[nodiscard]] ResultCode FinishPartFile();
    [[nodiscard]] ResultCode CheckDowngrade();
    [[nodiscard]] ResultCode LocalCopy();
    [[nodiscard]] bool PauseUnlessCancelled(DWORD milliseconds);
    // The same pause, told to the observer as a wait before try attempt of
    // attempts, and that the work goes on after it.
    [[nodiscard]] bool WaitBeforeTry(WaitReason reason, int attempt, int attempts, DWORD milliseconds);

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
    WString url_;
    int retryBudget_ = kRetryBudget;
    ExpectedFile expected_;
    // The download's file from its creation to its hand-over.
    PartFile part_;

    // The source as opened: an internet stream, a local file path, or the
    // part file itself when it already holds the whole file.
    SourceKind sourceKind_ = kSourceInternet;
    bool fileScheme_ = false;  // file: the source is copied whole, held bytes are never resumed
    WString localSourcePath_;
    // The source's reads hand over what is there without waiting (HTTP);
    // an FTP stream is asked how much is available first.
    bool readsWithoutWait_ = false;
    // Retry-After of the last answer that asked to come back later.
    WString retryAfter_;
    bool verifiable_ = false;
    bool verifiedWhileWriting_ = false;
    bool protect_ = false;
    int mirror_ = 1;
    WString downloadRoot_;
    // Where the body of the answer being received ends (a 206's last byte
    // + 1); 0 = at the total.
    uint64_t pieceEnd_ = 0;
    // The request asks where the file ends: this transfer's body came
    // without a length (see HttpAnswer::proving).
    bool proving_ = false;
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
    uint64_t stallSize_ = 0;
};

// One transfer of one URL (HTTP, HTTPS, FTP, FILE) into a target path
// through a ".part" file that a later run continues. WinINet runs in
// asynchronous mode; the calling thread waits for each call and polls the
// observer's cancellation every 10 ms.
#pragma once

#include <windows.h>
#include <wininet.h>
#include <stdint.h>

#include "base/wstr.h"
#include "download/transfer_observer.h"

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

    FileTransfer(TransferObserver* observer, CredentialStore* credentials);
    ~FileTransfer();
    FileTransfer(const FileTransfer&) = delete;
    FileTransfer& operator=(const FileTransfer&) = delete;

    // 0 = no expected size.
    void SetExpectedSize(uint32_t size) { expectedSize_ = size; }
    // Runs the whole transfer once; 0 or a result code.
    uint32_t Download(const WString& url, const WString& targetPath);

private:
    enum SourceKind { kSourceInternet, kSourceLocalFile };
    struct UrlParts;

    static void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                        DWORD infoLength);

    // Runs one WinINet call with the asynchronous pattern; call() answers the
    // call's BOOL result (a handle-yielding call stores its handle in
    // request_ itself). 0, the immediate error, or E_DL_CANCELLED.
    template <typename Call>
    DWORD RunAsync(int operation, bool yieldsHandle, Call call);
    void FetchLastResponse();

    DWORD OpenRoot();
    void CloseRequest();
    void CloseConnection();
    void CloseRoot();
    void CloseEvents();

    DWORD CheckUrl();
    DWORD OpenSourceWithRetries(uint32_t* bytesHeld, uint32_t* total);
    DWORD OpenUrl(uint32_t* bytesHeld, uint32_t* total);
    DWORD HttpRequest(const UrlParts& url, bool secure, uint32_t* bytesHeld, uint32_t* total);
    DWORD FtpRequest(const UrlParts& url, uint32_t* bytesHeld, uint32_t* total);
    DWORD FileSource(const UrlParts& url, uint32_t* bytesHeld, uint32_t* total);
    DWORD ReceiveLoop(uint32_t total, uint32_t bytesHeld);
    DWORD QueryAvailable(DWORD* amount);
    DWORD ReadChunk(DWORD wanted, DWORD* read);
    DWORD Reconnect(HANDLE partFile, uint32_t* total, uint32_t* bytesHeld);
    DWORD LocalCopy();
    DWORD PutPartFileInPlace();

    bool Cancelled();
    uint32_t Ask(const WString& context, uint32_t code, void* handle);
    void Report(const WString& context, uint32_t code) { Ask(context, code, nullptr); }
    WString TargetFileName() const;

    // Handles and state shared with the status callback.
    HINTERNET volatile request_ = nullptr;
    HINTERNET connection_ = nullptr;
    HINTERNET root_ = nullptr;
    TransferObserver* observer_;
    CredentialStore* credentials_;
    WString targetPath_;
    WString partPath_;
    WString url_;
    volatile DWORD completionError_ = 0;
    volatile DWORD_PTR completionResult_ = 0;
    volatile LONG pendingOperation_ = OP_CONNECT;
    volatile LONG completed_ = 0;
    WString lastResponse_;
    HANDLE requestDone_ = nullptr;
    HANDLE handleClosed_ = nullptr;
    int retryBudget_ = kRetryBudget;
    uint32_t expectedSize_ = 0;

    // The source as opened: an internet stream or a local file path.
    SourceKind sourceKind_ = kSourceInternet;
    WString localSourcePath_;
    // Set when a handle-yielding call was left pending by a cancellation.
    bool handleCallAbandoned_ = false;
    // Outputs of pending WinINet calls and the receive buffer: WinINet may
    // write them until the request handle is closed, so they live in the
    // object, not on the stack.
    DWORD availableOut_ = 0;
    DWORD readOut_ = 0;
    BYTE* buffer_ = nullptr;
};

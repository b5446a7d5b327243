// How download and install work reports to a user interface and asks it
// questions. The slot order is fixed; a silent run has no observer.
#pragma once

#include <stdint.h>

#include "base/result.h"
#include "base/wstr.h"
#include "download/result_codes.h"

// Kinds and scopes the observer is called with.
constexpr int kStartedStream = 1;       // OnTransferStarted: a transfer's stream starts
constexpr int kFinishedTransfer = 1;    // OnFinished: one transfer put its file in place
constexpr int kFinishedSequence = 0;    // OnFinished: the whole sequence went through
constexpr int kStatusNewItem = 9;       // SetStatusText: the start of a new item
constexpr int kStatusSource = 10;       // SetStatusText: the item now comes from another place (its host)
// OnError's answer when credentials were entered (ERROR_RETRY).
constexpr uint32_t kAnswerCredentialsEntered = 1237;

// Why the work waits before it goes on (OnWaiting).
enum class WaitReason {
    ServerSilent,       // nothing came for the no-data limit: the transfer resumes
    ConnectionLost,     // the connection ended early: the transfer resumes
    ServerUnavailable,  // 408, 429 or 5xx: the request is made again after a pause
    InstallerBusy,      // another installation runs: the setup is started again later
};

class TransferObserver {
public:
    virtual ~TransferObserver() {}
    virtual void SetItemCount(uint64_t count, int reserved) = 0;
    virtual void Reserved2(uint64_t) {}
    // total: the file's size in bytes, 0 when unknown (64-bit: files of any size).
    virtual void OnTransferStarted(int kind, uint64_t total, const WString& targetPath) = 0;
    virtual void Reserved4(uint64_t) {}
    // scope 1: one transfer put its file in place; scope 0: the sequence went through.
    virtual void OnFinished(int scope, int reserved) = 0;
    // Bytes added: first those a resumed part file already holds (any size).
    virtual void OnProgress(uint64_t bytes) = 0;
    virtual bool IsCancelled() = 0;
    virtual bool Reserved8() { return false; }
    // Answers 0 to accept a certificate problem, 1237 when credentials were
    // entered; the observers of this system answer with the code given.
    virtual uint32_t OnError(const WString& context, uint32_t code, void* handle) = 0;
    // kind 9 marks the start of a new item.
    virtual void SetStatusText(const WString& text, int kind, int reserved) = 0;
    // The work waits before attempt (counted from 1) of attempts; called
    // again with attempt 0 when it goes on.
    virtual void OnWaiting(WaitReason, uint32_t attempt, uint32_t attempts) {
        (void)attempt;
        (void)attempts;
    }
};

// The process-wide user name and password offered with a credential
// question; nothing in this system fills it.
struct CredentialStore {
    WString userName;
    WString password;
    WString description;  // "FTP Server", "Local Network Server"
};
CredentialStore& TheCredentialStore();

// Digests computed on a thread of their own from the part file itself. The
// thread reads the file at explicit offsets, through the handle that writes
// it, from where it is told to begin up to the end the writer has published,
// and waits for more: the bytes a resumed part file holds are hashed while
// the rest is received and written, and the network's bytes are read back
// from the file (the system's cache) instead of being copied aside. Nobody
// else can write the file (it is shared for reading only), so the bytes read
// are the bytes written. The digest objects are touched by that thread only
// between Start and Finish or Stop.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/owned.h"
#include "base/result.h"
#include "download/md5.h"
#include "download/sha256.h"
#include "download/transfer_observer.h"
#include "platform/unique_handle_win.h"
#include "platform/worker_thread_win.h"

class BackgroundDigests {
public:
    // Bytes read back per step.
    static constexpr DWORD kBlockSize = 1u << 20;
    // The thread wakes for new bytes once this many are waiting (or when
    // Finish asks for the rest): one hand-over per 256 KiB, not per piece
    // received.
    static constexpr DWORD kMinSpan = 256u * 1024;

    BackgroundDigests() { InitializeCriticalSection(&lock_); }
    ~BackgroundDigests() {
        Stop();
        DeleteCriticalSection(&lock_);
    }
    BackgroundDigests(const BackgroundDigests&) = delete;
    BackgroundDigests& operator=(const BackgroundDigests&) = delete;

    // Starts the thread for the digests that are not null, over file's bytes
    // from offset from (those before it are hashed already) up to end; false
    // when it cannot be had (the caller then hashes in place). Every write of
    // the file must name its offset from here on: the thread's reads move
    // the handle's file pointer.
    bool Start(HANDLE file, uint64_t from, uint64_t end, Md5* md5, Sha256* sha256);
    bool Running() const { return running_; }
    // The file holds bytes up to end now.
    void Publish(uint64_t end);
    // Returns once every published byte is hashed: kResultOk, the error of a
    // read that failed, or E_DL_CANCELLED when the observer cancels while it
    // waits (the thread is then stopped).
    ResultCode Finish(TransferObserver* observer);
    // Ends the thread at once; the digests are left incomplete.
    void Stop();

private:
    static DWORD Run(void* self);
    // What the thread is to do next: 0 wait for more_, else the bytes to
    // hash from *offset; -1 on stop.
    int64_t NextSpan(uint64_t* offset);
    // Sets more_ when the thread waits and it was not set for that wait yet;
    // called under lock_, answers whether to set it.
    bool WakeNeeded();

    HANDLE file_ = nullptr;
    Md5* md5_ = nullptr;
    Sha256* sha256_ = nullptr;
    CRITICAL_SECTION lock_;
    uint64_t hashed_ = 0;     // under lock_
    uint64_t published_ = 0;  // under lock_
    ResultCode error_ = kResultOk;  // under lock_
    bool stopping_ = false;   // under lock_
    bool draining_ = false;   // under lock_: Finish waits, every byte counts
    bool waiting_ = false;    // under lock_: the thread waits for more_
    bool signalled_ = false;  // under lock_: more_ was set for that wait
    // Events, set once per wait (each a call to the system's server under
    // Wine, so never per piece): more_ wakes the thread, done_ tells a
    // draining Finish that the thread caught up (or failed).
    UniqueHandle more_;
    UniqueHandle done_;
    bool running_ = false;
    WorkerThread thread_;
};

// Digests computed on a thread of their own while the transfer goes on
// receiving: each piece handed over is copied into one of a few slots, which
// the thread hashes in the order given. The digest objects are touched by
// that thread only between Start and Finish.
#pragma once

#include <windows.h>

#include "base/owned.h"
#include "download/md5.h"
#include "download/sha256.h"
#include "platform/unique_handle_win.h"
#include "platform/worker_thread_win.h"

class BackgroundDigests {
public:
    static constexpr DWORD kSlotSize = 65536;

    BackgroundDigests() = default;
    // Hashes what was handed over, then ends the thread.
    ~BackgroundDigests() { Stop(); }
    BackgroundDigests(const BackgroundDigests&) = delete;
    BackgroundDigests& operator=(const BackgroundDigests&) = delete;

    // Starts the thread for the digests that are not null; false when it or
    // its slots cannot be had (the caller then hashes in place).
    bool Start(Md5* md5, Sha256* sha256);
    bool Running() const { return running_; }
    // Copies the piece (at most kSlotSize bytes) for hashing; waits while
    // every slot is taken.
    void Add(const void* bytes, DWORD count);
    // Returns once every piece handed over is hashed.
    void Finish();
    void Stop();

private:
    static constexpr int kSlots = 4;
    static DWORD Run(void* self);

    Md5* md5_ = nullptr;
    Sha256* sha256_ = nullptr;
    HeapBlock slots_[kSlots];
    DWORD lengths_[kSlots] = {};
    int produced_ = 0;  // the next slot to fill
    UniqueHandle free_;    // semaphore: slots free to fill
    UniqueHandle filled_;  // semaphore: slots filled, to hash
    volatile LONG stopping_ = 0;
    bool running_ = false;
    WorkerThread thread_;
};

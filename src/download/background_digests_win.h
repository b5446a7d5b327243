// Digests computed on a thread of their own while the transfer goes on
// receiving: the pieces handed over are gathered into a few slots of 256 KiB,
// each hashed by the thread once full (or at Finish), in the order given: one
// hand-over per 256 KiB, not per piece received. The digest objects are
// touched by that thread only between Start and Finish.
#pragma once

#include <windows.h>

#include "base/owned.h"
#include "download/md5.h"
#include "download/sha256.h"
#include "platform/unique_handle_win.h"
#include "platform/worker_thread_win.h"

class BackgroundDigests {
public:
    static constexpr DWORD kSlotSize = 256 * 1024;

    BackgroundDigests() = default;
    // Hashes what was handed over, then ends the thread.
    ~BackgroundDigests() { Stop(); }
    BackgroundDigests(const BackgroundDigests&) = delete;
    BackgroundDigests& operator=(const BackgroundDigests&) = delete;

    // Starts the thread for the digests that are not null; false when it or
    // its slots cannot be had (the caller then hashes in place).
    bool Start(Md5* md5, Sha256* sha256);
    bool Running() const { return running_; }
    // Copies the piece (of any size) for hashing; waits while every slot is
    // taken.
    void Add(const void* bytes, DWORD count);
    // Returns once every byte added is hashed.
    void Finish();
    void Stop();

private:
    static constexpr int kSlots = 4;
    static DWORD Run(void* self);
    // The slot being filled goes to the thread.
    void HandOver();

    Md5* md5_ = nullptr;
    Sha256* sha256_ = nullptr;
    HeapBlock slots_[kSlots];
    DWORD lengths_[kSlots] = {};
    int produced_ = 0;  // the slot being filled, or the next one
    bool filling_ = false;  // slot produced_ is taken and holds lengths_[produced_] bytes
    UniqueHandle free_;    // semaphore: slots free to fill
    UniqueHandle filled_;  // semaphore: slots filled, to hash
    volatile LONG stopping_ = 0;
    bool running_ = false;
    WorkerThread thread_;
};

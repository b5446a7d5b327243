#include "download/background_digests_win.h"

bool BackgroundDigests::Start(Md5* md5, Sha256* sha256) {
    Stop();
    md5_ = md5;
    sha256_ = sha256;
    for (HeapBlock& slot : slots_) {
        if (!slot) slot = HeapBlock(kSlotSize);
        if (!slot) return false;
    }
    free_.Reset(CreateSemaphoreW(nullptr, kSlots, kSlots, nullptr));
    filled_.Reset(CreateSemaphoreW(nullptr, 0, kSlots, nullptr));
    if (!free_ || !filled_) return false;
    produced_ = 0;
    filling_ = false;
    InterlockedExchange(&stopping_, 0);
    running_ = thread_.Start(&BackgroundDigests::Run, this);
    return running_;
}

void BackgroundDigests::Add(const void* bytes, DWORD count) {
    const BYTE* piece = static_cast<const BYTE*>(bytes);
    while (count) {
        if (!filling_) {
            WaitForSingleObject(free_.Get(), INFINITE);
            filling_ = true;
            lengths_[produced_] = 0;
        }
        const DWORD room = kSlotSize - lengths_[produced_];
        const DWORD n = count < room ? count : room;
        CopyMemory(static_cast<BYTE*>(slots_[produced_].Get()) + lengths_[produced_], piece, n);
        lengths_[produced_] += n;
        piece += n;
        count -= n;
        if (lengths_[produced_] == kSlotSize) HandOver();
    }
}

void BackgroundDigests::HandOver() {
    filling_ = false;
    produced_ = (produced_ + 1) % kSlots;
    ReleaseSemaphore(filled_.Get(), 1, nullptr);
}

void BackgroundDigests::Finish() {
    if (!running_) return;
    if (filling_) HandOver();  // a slot is taken only with a byte in it
    // Every slot free again means every piece was hashed.
    for (int i = 0; i < kSlots; ++i) WaitForSingleObject(free_.Get(), INFINITE);
    ReleaseSemaphore(free_.Get(), kSlots, nullptr);
}

void BackgroundDigests::Stop() {
    if (!running_) return;
    Finish();
    InterlockedExchange(&stopping_, 1);
    ReleaseSemaphore(filled_.Get(), 1, nullptr);
    thread_.Wait();
    running_ = false;
}

DWORD BackgroundDigests::Run(void* context) {
    BackgroundDigests* self = static_cast<BackgroundDigests*>(context);
    int consumed = 0;
    for (;;) {
        WaitForSingleObject(self->filled_.Get(), INFINITE);
        // Stop is signalled only once every slot is free: nothing is left.
        if (InterlockedCompareExchange(&self->stopping_, 0, 0)) return 0;
        const void* piece = self->slots_[consumed].Get();
        const DWORD length = self->lengths_[consumed];
        if (self->md5_) self->md5_->Update(piece, length);
        if (self->sha256_) self->sha256_->Update(piece, length);
        consumed = (consumed + 1) % kSlots;
        ReleaseSemaphore(self->free_.Get(), 1, nullptr);
    }
}

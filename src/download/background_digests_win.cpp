#include "download/background_digests_win.h"

namespace {

// Holds a critical section for a scope.
class Locked {
public:
    explicit Locked(CRITICAL_SECTION* lock) : lock_(lock) { EnterCriticalSection(lock_); }
    ~Locked() { LeaveCriticalSection(lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    CRITICAL_SECTION* lock_;
};

// How often a waiting Finish asks the observer about a cancellation.
constexpr DWORD kCancelPollMilliseconds = 50;

}  // namespace

bool BackgroundDigests::Start(HANDLE file, uint64_t from, uint64_t end, Md5* md5, Sha256* sha256) {
    Stop();
    file_ = file;
    md5_ = md5;
    sha256_ = sha256;
    if (!more_) more_.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!done_) done_.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!more_ || !done_) return false;
    {
        Locked locked(&lock_);
        hashed_ = from;
        published_ = end < from ? from : end;
        error_ = kResultOk;
        stopping_ = false;
        draining_ = false;
        waiting_ = false;
        signalled_ = false;
    }
    ResetEvent(more_.Get());
    ResetEvent(done_.Get());
    running_ = thread_.Start(&BackgroundDigests::Run, this);
    return running_;
}

bool BackgroundDigests::WakeNeeded() {
    if (!waiting_ || signalled_) return false;
    signalled_ = true;
    return true;
}

void BackgroundDigests::Publish(uint64_t end) {
    bool wake = false;
    {
        Locked locked(&lock_);
        if (end > published_) published_ = end;
        wake = published_ - hashed_ >= kMinSpan && WakeNeeded();
    }
    if (wake) SetEvent(more_.Get());
}

ResultCode BackgroundDigests::Finish(TransferObserver* observer) {
    if (!running_) return kResultOk;
    bool wake = false;
    {
        Locked locked(&lock_);
        draining_ = true;
        wake = WakeNeeded();
    }
    if (wake) SetEvent(more_.Get());
    for (;;) {
        {
            Locked locked(&lock_);
            if (error_ || hashed_ == published_) {
                draining_ = false;
                return error_;
            }
        }
        if (WaitForSingleObject(done_.Get(), kCancelPollMilliseconds) == WAIT_OBJECT_0) continue;
        if (observer && observer->IsCancelled()) {
            Stop();
            return E_DL_CANCELLED;
        }
    }
}

void BackgroundDigests::Stop() {
    if (!running_) return;
    {
        Locked locked(&lock_);
        stopping_ = true;
    }
    SetEvent(more_.Get());
    thread_.Wait();
    running_ = false;
}

int64_t BackgroundDigests::NextSpan(uint64_t* offset) {
    Locked locked(&lock_);
    if (stopping_ || error_) return -1;
    *offset = hashed_;
    const uint64_t left = published_ - hashed_;
    if (!left && draining_) SetEvent(done_.Get());
    if (!left || (left < kMinSpan && !draining_)) {
        waiting_ = true;
        return 0;
    }
    waiting_ = false;
    signalled_ = false;
    return static_cast<int64_t>(left < kBlockSize ? left : kBlockSize);
}

DWORD BackgroundDigests::Run(void* context) {
    BackgroundDigests* self = static_cast<BackgroundDigests*>(context);
    HeapBlock block(kBlockSize);
    for (;;) {
        uint64_t offset = 0;
        const int64_t span = block ? self->NextSpan(&offset) : -1;
        if (span < 0) {
            if (!block) {
                Locked locked(&self->lock_);
                self->error_ = ERROR_NOT_ENOUGH_MEMORY;
                SetEvent(self->done_.Get());
            }
            return 0;
        }
        if (!span) {
            WaitForSingleObject(self->more_.Get(), INFINITE);
            // The wake is spent: the next wait needs a signal of its own.
            Locked locked(&self->lock_);
            self->waiting_ = false;
            self->signalled_ = false;
            continue;
        }
        OVERLAPPED at;
        ZeroMemory(&at, sizeof at);
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        const BOOL read = ReadFile(self->file_, block.Get(), static_cast<DWORD>(span), &got, &at);
        if (!read || !got) {
            const ResultCode error = read ? ERROR_HANDLE_EOF : GetLastError();
            Locked locked(&self->lock_);
            self->error_ = error ? error : ERROR_READ_FAULT;
            SetEvent(self->done_.Get());
            return 0;
        }
        if (self->md5_) self->md5_->Update(block.Get(), got);
        if (self->sha256_) self->sha256_->Update(block.Get(), got);
        Locked locked(&self->lock_);
        self->hashed_ += got;
    }
}

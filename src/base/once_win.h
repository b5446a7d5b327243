// One-time initialisation and the lock of process-wide values. Both are
// usable as globals: they need no constructor to run before first use.
#pragma once

#include <windows.h>

// The one-time initialisation used for process-wide values: the first caller
// runs init, concurrent first callers wait for it.
class OnceFlag {
public:
    template <typename F>
    void Run(F init) {
        if (InterlockedCompareExchange(&state_, 0, 0) == 2) return;
        if (InterlockedCompareExchange(&state_, 1, 0) == 0) {
            init();
            InterlockedExchange(&state_, 2);
            return;
        }
        while (InterlockedCompareExchange(&state_, 2, 2) != 2) Sleep(0);
    }
    bool Done() const { return InterlockedCompareExchange(const_cast<volatile LONG*>(&state_), 2, 2) == 2; }
    // Only when no thread can be inside Run.
    void Reset() { InterlockedExchange(&state_, 0); }

private:
    volatile LONG state_ = 0;
};

// A critical section set up by whichever thread enters it first; threads
// arriving meanwhile wait until it is ready. Never torn down unless Destroy is
// called (process-wide locks live until the process ends).
class LazyLock {
public:
    void Enter() {
        once_.Run([this] { InitializeCriticalSection(&section_); });
        EnterCriticalSection(&section_);
    }
    void Leave() { LeaveCriticalSection(&section_); }
    // Only when no thread can use the lock any more.
    void Destroy() {
        if (!once_.Done()) return;
        DeleteCriticalSection(&section_);
        once_.Reset();
    }

private:
    OnceFlag once_;
    CRITICAL_SECTION section_ = {};
};

// Holds a LazyLock for one scope.
class LockScope {
public:
    explicit LockScope(LazyLock& lock) : lock_(lock) { lock_.Enter(); }
    ~LockScope() { lock_.Leave(); }
    LockScope(const LockScope&) = delete;
    LockScope& operator=(const LockScope&) = delete;

private:
    LazyLock& lock_;
};

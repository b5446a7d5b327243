// Runs one callback on a new thread.
#pragma once

#include <windows.h>

#include "platform/unique_handle_win.h"

class WorkerThread {
public:
    typedef DWORD (*Callback)(void* context);
    WorkerThread() {}
    // Waits up to the time-out (unlimited unless one was set); terminates the
    // thread only after a finite time-out has expired.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // False while a thread started before still runs.
    bool Start(Callback callback, void* context);
    bool IsRunning() const;  // exit code 259 (STILL_ACTIVE)
    void Wait();
    DWORD ExitCode() const;
    HANDLE Handle() const { return thread_.Get(); }
    void SetTimeout(DWORD milliseconds) { timeout_ = milliseconds; }

private:
    // The thread reads the callback from this object, which outlives it: the
    // destructor waits for the thread or ends it.
    static DWORD WINAPI ThreadMain(void* self);
    UniqueHandle thread_;
    Callback callback_ = nullptr;
    void* context_ = nullptr;
    DWORD timeout_ = INFINITE;
};

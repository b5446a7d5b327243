// Runs one callback on a new thread.
#pragma once

#include <windows.h>

class WorkerThread {
public:
    typedef DWORD (*Callback)(void* context);
    WorkerThread() {}
    // Waits up to the time-out (unlimited unless one was set); terminates the
    // thread only after a finite time-out has expired.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    bool Start(Callback callback, void* context);
    bool IsRunning() const;  // exit code 259 (STILL_ACTIVE)
    void Wait();
    DWORD ExitCode() const;
    HANDLE Handle() const { return thread_; }
    void SetTimeout(DWORD milliseconds) { timeout_ = milliseconds; }

private:
    HANDLE thread_ = nullptr;
    DWORD timeout_ = INFINITE;
};

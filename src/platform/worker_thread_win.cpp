#include "platform/worker_thread_win.h"

DWORD WINAPI WorkerThread::ThreadMain(void* self) {
    WorkerThread* thread = static_cast<WorkerThread*>(self);
    return thread->callback_(thread->context_);
}

WorkerThread::~WorkerThread() {
    if (!thread_) return;
    if (WaitForSingleObject(thread_.Get(), timeout_) != WAIT_OBJECT_0 && timeout_ != INFINITE)
        TerminateThread(thread_.Get(), 1);
}

bool WorkerThread::Start(Callback callback, void* context) {
    // A thread that has ended makes room for the next one.
    if (thread_ && IsRunning()) return false;
    thread_.Reset();
    callback_ = callback;
    context_ = context;
    thread_.Reset(CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr));
    return thread_.Valid();
}

bool WorkerThread::IsRunning() const { return thread_ && ExitCode() == STILL_ACTIVE; }

void WorkerThread::Wait() {
    if (thread_) WaitForSingleObject(thread_.Get(), INFINITE);
}

DWORD WorkerThread::ExitCode() const {
    DWORD code = 0;
    if (thread_) GetExitCodeThread(thread_.Get(), &code);
    return code;
}

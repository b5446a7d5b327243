#include "platform/worker_thread_win.h"

namespace {
struct StartRecord {
    WorkerThread::Callback callback;
    void* context;
};

DWORD WINAPI ThreadMain(void* parameter) {
    StartRecord record = *static_cast<StartRecord*>(parameter);
    delete static_cast<StartRecord*>(parameter);
    return record.callback(record.context);
}
}  // namespace

WorkerThread::~WorkerThread() {
    if (!thread_) return;
    if (WaitForSingleObject(thread_, timeout_) != WAIT_OBJECT_0 && timeout_ != INFINITE)
        TerminateThread(thread_, 1);
    CloseHandle(thread_);
}

bool WorkerThread::Start(Callback callback, void* context) {
    if (thread_) return false;
    StartRecord* record = new StartRecord{callback, context};
    thread_ = CreateThread(nullptr, 0, ThreadMain, record, 0, nullptr);
    if (!thread_) delete record;
    return thread_ != nullptr;
}

bool WorkerThread::IsRunning() const { return thread_ && ExitCode() == STILL_ACTIVE; }

void WorkerThread::Wait() {
    if (thread_) WaitForSingleObject(thread_, INFINITE);
}

DWORD WorkerThread::ExitCode() const {
    DWORD code = 0;
    if (thread_) GetExitCodeThread(thread_, &code);
    return code;
}

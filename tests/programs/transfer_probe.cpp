// Test program: runs one FileTransfer for a URL into a target path and prints
// every observer call on its own line, machine-readable:
//   started kind=<k> total=<n> target=<path>
//   progress bytes=<n> sum=<running sum>
//   finished scope=<s> reserved=<r>
//   cancel-query answer=<0|1> tick=<ms>  (only with --show-polls, or when 1)
//   error code=<u> handle=<none|request|credentials> context=<text> answer=<u>
//   result=<u> hex=<0x...> tick=<ms>
// then exits with the result code.
// Options: --expected N, --cancel-after-progress N, --cancel-after-bytes N,
// --cancel-after-polls N (answer true from the Nth cancellation query on),
// --cancel-after-ms N (answer true once N ms have passed since the start),
// --cert-answer N, --auth-answer N, --store-user U, --store-password P,
// --no-observer, --show-polls, --quiet (only the result and a summary),
// --progress-delay MS (sleep in every progress call), --md5 HEX, --sha256 HEX,
// --verifiable (a hash checks the file),
// --log PATH (the transfer's log lines go there).
// "transfer_probe --md5 <path>" prints the file's digest and the time taken.
#include <windows.h>
#include <psapi.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "download/file_transfer_win.h"
#include "download/verified_file_win.h"
#include "log/log.h"
#include "log/logger_win.h"

namespace {

class RecordingObserver : public TransferObserver {
public:
    long long cancelAfterProgress = -1;
    long long cancelAfterBytes = -1;
    long long cancelAfterPolls = -1;
    long long cancelAfterMs = -1;
    DWORD startTick = 0;
    long long certAnswer = -1;
    long long authAnswer = -1;
    bool showPolls = false;
    bool quiet = false;
    DWORD progressDelay = 0;
    unsigned long long progressCalls = 0;
    unsigned long long progressSum = 0;
    unsigned long long polls = 0;
    bool cancelled = false;

    void SetItemCount(uint64_t count, int) override { Line("item-count count=%llu\n", (unsigned long long)count); }
    void OnTransferStarted(int kind, uint64_t total, const WString& target) override {
        if (quiet) return;
        wprintf(L"started kind=%d total=%llu target=%ls\n", kind, (unsigned long long)total, target.wc());
        fflush(stdout);
    }
    void OnFinished(int scope, int reserved) override { Line("finished scope=%d reserved=%d\n", scope, reserved); }
    void OnProgress(uint64_t bytes) override {
        ++progressCalls;
        progressSum += bytes;
        if (!quiet) {
            wprintf(L"progress bytes=%llu sum=%llu tick=%lu\n", (unsigned long long)bytes, progressSum, GetTickCount());
            fflush(stdout);
        }
        if (progressDelay) Sleep(progressDelay);
    }
    bool IsCancelled() override {
        ++polls;
        if (!cancelled) {
            if (cancelAfterProgress >= 0 && (long long)progressCalls >= cancelAfterProgress) cancelled = true;
            if (cancelAfterBytes >= 0 && (long long)progressSum >= cancelAfterBytes) cancelled = true;
            if (cancelAfterPolls >= 0 && (long long)polls >= cancelAfterPolls) cancelled = true;
            if (cancelAfterMs >= 0 && (long long)(GetTickCount() - startTick) >= cancelAfterMs) cancelled = true;
            if (cancelled) Line("cancel-query answer=1 tick=%lu\n", GetTickCount());
        } else if (showPolls) {
            Line("cancel-query answer=1\n");
        }
        if (!cancelled && showPolls) Line("cancel-query answer=0\n");
        return cancelled;
    }
    uint32_t OnError(const WString& context, uint32_t code, void* handle) override {
        const wchar_t* kind = L"none";
        uint32_t answer = code;
        if (handle == &TheCredentialStore()) {
            kind = L"credentials";
            if (authAnswer >= 0) answer = (uint32_t)authAnswer;
        } else if (handle) {
            kind = L"request";
            if (certAnswer >= 0) answer = (uint32_t)certAnswer;
        }
        wprintf(L"error code=%u handle=%ls context=%ls answer=%u", code, kind, context.wc(), answer);
        if (handle == &TheCredentialStore()) wprintf(L" store=%ls", TheCredentialStore().description.wc());
        wprintf(L"\n");
        fflush(stdout);
        return answer;
    }
    void OnWaiting(WaitReason reason, uint32_t attempt, uint32_t attempts) override {
        static const char* const kReasons[] = {"silent", "lost", "unavailable", "busy"};
        Line("waiting reason=%s attempt=%u attempts=%u\n", kReasons[static_cast<int>(reason)], attempt, attempts);
    }
    void SetStatusText(const WString& text, int kind, int) override {
        if (quiet) return;
        wprintf(L"status kind=%d text=%ls\n", kind, text.wc());
        fflush(stdout);
    }

private:
    void Line(const char* format, ...) {
        va_list args;
        va_start(args, format);
        vprintf(format, args);
        va_end(args);
        fflush(stdout);
    }
};

void PrintPeakMemory() {
    typedef BOOL(WINAPI * QueryMemory)(HANDLE, PROCESS_MEMORY_COUNTERS*, DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    QueryMemory query = kernel ? (QueryMemory)(void*)GetProcAddress(kernel, "K32GetProcessMemoryInfo") : nullptr;
    PROCESS_MEMORY_COUNTERS counters;
    ZeroMemory(&counters, sizeof counters);
    counters.cb = sizeof counters;
    if (query && query(GetCurrentProcess(), &counters, sizeof counters)) {
        printf("peak-working-set=%llu peak-pagefile=%llu\n", (unsigned long long)counters.PeakWorkingSetSize,
               (unsigned long long)counters.PeakPagefileUsage);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && !wcscmp(argv[1], L"--md5")) {
        DWORD start = GetTickCount();
        VerifiedFile file;
        ExpectedFile md5Only;
        md5Only.md5 = u"?";
        FileFacts facts;
        bool ok = file.Open(WString(argv[2])) && file.ReadFacts(md5Only, &facts) == Verdict::Accepted;
        DWORD elapsed = GetTickCount() - start;
        wprintf(L"md5=%ls ok=%d ms=%lu\n", ok ? WString(facts.md5).wc() : L"", ok ? 1 : 0, elapsed);
        return ok ? 0 : 1;
    }
    if (argc < 3) {
        fwprintf(stderr, L"usage: transfer_probe <url> <target> [options]\n");
        return 2;
    }
    RecordingObserver observer;
    bool useObserver = true;
    uint64_t expected = 0;
    WString md5, sha256;
    bool verifiable = false;
    for (int i = 3; i < argc; ++i) {
        const wchar_t* option = argv[i];
        const wchar_t* value = i + 1 < argc ? argv[i + 1] : L"";
        if (!wcscmp(option, L"--no-observer")) {
            useObserver = false;
        } else if (!wcscmp(option, L"--show-polls")) {
            observer.showPolls = true;
        } else if (!wcscmp(option, L"--quiet")) {
            observer.quiet = true;
        } else if (!wcscmp(option, L"--expected")) {
            expected = (uint64_t)_wcstoui64(value, nullptr, 10);
            ++i;
        } else if (!wcscmp(option, L"--cancel-after-progress")) {
            observer.cancelAfterProgress = _wtoi64(value);
            ++i;
        } else if (!wcscmp(option, L"--cancel-after-bytes")) {
            observer.cancelAfterBytes = _wtoi64(value);
            ++i;
        } else if (!wcscmp(option, L"--cancel-after-polls")) {
            observer.cancelAfterPolls = _wtoi64(value);
            ++i;
        } else if (!wcscmp(option, L"--cancel-after-ms")) {
            observer.cancelAfterMs = _wtoi64(value);
            ++i;
        } else if (!wcscmp(option, L"--cert-answer")) {
            observer.certAnswer = _wtoi64(value);
            ++i;
        } else if (!wcscmp(option, L"--auth-answer")) {
            observer.authAnswer = _wtoi64(value);
            ++i;
        } else if (!wcscmp(option, L"--store-user")) {
            TheCredentialStore().userName = WString(value);
            ++i;
        } else if (!wcscmp(option, L"--store-password")) {
            TheCredentialStore().password = WString(value);
            ++i;
        } else if (!wcscmp(option, L"--md5")) {
            md5 = WString(value);
            ++i;
        } else if (!wcscmp(option, L"--sha256")) {
            sha256 = WString(value);
            ++i;
        } else if (!wcscmp(option, L"--verifiable")) {
            verifiable = true;
        } else if (!wcscmp(option, L"--log")) {
            LoggingEnabled = true;
            TheLogger().SetLogFile(WString(value));
            ++i;
        } else if (!wcscmp(option, L"--progress-delay")) {
            observer.progressDelay = (DWORD)_wtoi(value);
            ++i;
        } else {
            fwprintf(stderr, L"unknown option %ls\n", option);
            return 2;
        }
    }
    uint32_t result;
    {
        FileTransfer transfer(useObserver ? &observer : nullptr, &TheCredentialStore());
        ExpectedFile expectedFile;
        expectedFile.size = expected;
        expectedFile.md5 = md5;
        expectedFile.sha256 = sha256;
        transfer.SetExpected(expectedFile);
        transfer.SetVerifiable(verifiable);
        observer.startTick = GetTickCount();
        result = transfer.Download(WString(argv[1]), WString(argv[2]));
        printf("verified-while-writing=%d\n", transfer.VerifiedWhileWriting() ? 1 : 0);
    }
    TheLogger().Close();
    printf("summary progress-calls=%llu progress-sum=%llu polls=%llu\n", observer.progressCalls, observer.progressSum,
           observer.polls);
    PrintPeakMemory();
    printf("result=%u hex=0x%08X tick=%lu\n", result, result, GetTickCount());
    fflush(stdout);
    return (int)result;
}

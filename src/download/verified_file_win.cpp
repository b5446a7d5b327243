#include "download/verified_file_win.h"

#include "base/owned.h"
#include "download/signer_check_win.h"
#include "log/log.h"
#include "platform/path_rules.h"

namespace {

constexpr DWORD kReadBlockSize = 1u << 20;

UniqueFile OpenReader(const WString& path, bool movable) {
    return UniqueFile(CreateFileW(AddLongPrefixForStorage(path).wc(), GENERIC_READ | (movable ? DELETE : 0),
                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

}  // namespace

bool VerifiedFile::Open(const WString& path, bool movable) {
    path_ = path;
    movable_ = false;
    file_ = OpenReader(path, movable);
    if (!file_) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file_.Get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        file_.Reset();
        return false;
    }
    movable_ = movable;
    return true;
}

ResultCode VerifiedFile::MoveTo(const WString& target) {
    if (!file_ || !movable_) return ERROR_INVALID_HANDLE;
    const ResultCode moved = RenameOpenFile(file_.Get(), target);
    if (moved != kResultOk) return moved;
    // A reader's hold that shared delete could be taken beside the movable
    // handle; one that never shares delete only after it. In the protected
    // folder nobody but this run can touch the name in between, and the
    // identity check shows that the file held is the one moved.
    const FileIdentity moving = Identity();
    path_ = target;
    file_.Reset();
    movable_ = false;
    file_ = OpenReader(target, false);
    if (!file_) return GetLastError();
    if (!Identity().SameFileAs(moving)) {
        file_.Reset();
        return ERROR_FILE_INVALID;
    }
    return kResultOk;
}

Verdict VerifiedFile::Stream(HANDLE out, FileDigester* digester, TransferObserver* observer) {
    uint64_t size = 0;
    if (!file_ || !SizeOfOpenFile(file_.Get(), &size)) return Verdict::Unreadable;
    LARGE_INTEGER start;
    start.QuadPart = 0;
    if (!SetFilePointerEx(file_.Get(), start, nullptr, FILE_BEGIN)) return Verdict::Unreadable;
    HeapBlock block(kReadBlockSize);
    if (!block) return Verdict::Unreadable;
    uint64_t remaining = size;
    while (remaining) {
        if (observer && observer->IsCancelled()) return Verdict::Cancelled;
        DWORD read = 0;
        if (!ReadFile(file_.Get(), block.Get(), kReadBlockSize, &read, nullptr) || read == 0) return Verdict::Unreadable;
        if (read > remaining) read = static_cast<DWORD>(remaining);
        DWORD written = 0;
        if (out && (!WriteFile(out, block.Get(), read, &written, nullptr) || written != read)) return Verdict::Unreadable;
        digester->Update(block.Get(), read);
        remaining -= read;
    }
    return Verdict::Accepted;
}

Verdict VerifiedFile::ReadFacts(const ExpectedFile& expected, FileFacts* facts, TransferObserver* observer) {
    FileDigester digester(expected);
    const Verdict read = Stream(nullptr, &digester, observer);
    if (read == Verdict::Accepted) *facts = digester.Finish();
    return read;
}

Verdict VerifiedFile::Judge(const ExpectedFile& expected, TransferObserver* observer) {
    if (!file_) return Verdict::Unreadable;
    FileFacts facts;
    if (!expected.HasDigest()) {
        if (!SizeOfOpenFile(file_.Get(), &facts.size)) return Verdict::Unreadable;
    } else {
        const Verdict read = ReadFacts(expected, &facts, observer);
        if (read != Verdict::Accepted) return read;
    }
    const Verdict verdict = JudgeFile(expected, facts);
    return verdict == Verdict::Accepted ? JudgeSigner(expected) : verdict;
}

Verdict VerifiedFile::JudgeSigner(const ExpectedFile& expected) {
    if (!expected.ChecksSigner()) return Verdict::Accepted;
    if (!file_) return Verdict::Unreadable;
    const SignerResult result = CheckSigner(file_.Get(), path_, SignerPins(expected.signerThumbprint, expected.signerName));
    if (result.Passed()) return Verdict::Accepted;
    if (LoggingEnabled) LogLine(SignerLogLine(result, path_));
    return Verdict::SignerRejected;
}

Verdict VerifiedFile::CopyCheckedTo(const WString& target, const ExpectedFile& expected, VerifiedFile* copy,
                                    TransferObserver* observer) {
    copy->Close();
    FileDigester digester(expected);
    Verdict copied;
    {
        UniqueFile out(CreateFileW(AddLongPrefixForStorage(target).wc(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out) return Verdict::Unreadable;
        copied = Stream(out.Get(), &digester, observer);
    }
    Verdict verdict = copied == Verdict::Accepted ? JudgeFile(expected, digester.Finish()) : copied;
    if (verdict == Verdict::Accepted && !copy->Open(target)) verdict = Verdict::Unreadable;
    if (verdict == Verdict::Accepted) verdict = copy->JudgeSigner(expected);
    if (verdict != Verdict::Accepted) {
        copy->Close();
        DeleteFileW(AddLongPrefixForStorage(target).wc());
    }
    return verdict;
}

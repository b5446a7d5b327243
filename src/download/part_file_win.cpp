#include "download/part_file_win.h"

#include "base/owned.h"
#include "download/verified_file_win.h"
#include "log/log.h"
#include "platform/path_rules.h"
#include "platform/protected_folder_win.h"
#include "platform/win_util.h"

WString PartFileSuffix(int mirror) {
    WString suffix(u".part");
    if (mirror > 1) suffix.AppendDecimal(mirror);
    return suffix;
}

PartFile::~PartFile() { Close(); }

ResultCode PartFile::Bind(const WString& target, const ExpectedFile& expected, bool protect, int mirror,
                          const WString& root) {
    Close();
    target_ = target;
    expected_ = expected;
    protect_ = protect;
    mirror_ = mirror;
    digester_.Reset(expected);
    const int slash = target.FindLastChar(u'\\');
    name_ = target.Mid(slash + 1);
    path_ = target + PartFileSuffix(mirror);
    held_ = hashed_ = 0;
    written_ = FileIdentity();
    protectedWhileWriting_ = false;
    if (slash <= 0 || name_.IsEmpty()) return ERROR_INVALID_NAME;
    WString name;
    return HoldParentBelow(root, target, &folder_, &name);
}

void PartFile::Close() {
    background_.Stop();
    file_.Reset();
}

uint64_t PartFile::OpenToResume() {
    Close();
    held_ = hashed_ = 0;
    createdProtected_ = false;
    RestartDigests();
    if (!folder_.IsOpen()) return 0;
    // Opened as it will be written: a part file this run may not write (one
    // an elevated run left under its protected descriptor) is begun afresh.
    UniqueFile file;
    if (folder_.OpenFile(PartName(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, OPEN_EXISTING, nullptr,
                         &file) != kResultOk)
        return 0;
    uint64_t size = 0;
    if (!SizeOfOpenFile(file.Get(), &size)) return 0;
    file_ = static_cast<UniqueFile&&>(file);
    held_ = size;
    return size;
}

void PartFile::RestartDigests() {
    background_.Stop();
    digester_.Restart();
    hashed_ = 0;
}

ResultCode PartFile::CreateAfresh() {
    Close();
    createdProtected_ = false;
    const DWORD access = GENERIC_READ | GENERIC_WRITE | DELETE;
    UniqueFile file;
    ResultCode result = ERROR_ACCESS_DENIED;
    if (protect_) {
        // A new file: the descriptor of one that exists would stay.
        AccessListBuilder builder;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (ProtectedFolder::BuildDescriptor(&builder, &descriptor) == kResultOk) {
            (void)folder_.DeleteEntry(PartName());
            SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
            result = folder_.OpenFile(PartName(), access, FILE_SHARE_READ, CREATE_NEW, &attributes, &file);
            createdProtected_ = result == kResultOk;
        }
    }
    if (!file) result = folder_.OpenFile(PartName(), access, FILE_SHARE_READ, CREATE_ALWAYS, nullptr, &file);
    if (!file && result == ERROR_ACCESS_DENIED && folder_.DeleteEntry(PartName()) == kResultOk) {
        // A part file this run may not write, but whose folder lets it go.
        result = folder_.OpenFile(PartName(), access, FILE_SHARE_READ, CREATE_NEW, nullptr, &file);
    }
    if (!file) return result ? result : ERROR_WRITE_FAULT;
    file_ = static_cast<UniqueFile&&>(file);
    return kResultOk;
}

ResultCode PartFile::Prepare(uint64_t keep, TransferObserver* observer) {
    if (keep == 0 || !file_ || keep != held_) {
        DropValidator();
        RestartDigests();
        held_ = 0;
        ResultCode result = kResultOk;
        if (file_ && !protect_) {
            LARGE_INTEGER start;
            start.QuadPart = 0;
            if (!SetFilePointerEx(file_.Get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(file_.Get()))
                result = CreateAfresh();
        } else {
            result = CreateAfresh();
        }
        if (result != kResultOk) return result;
    } else if (hashed_ != held_) {
        RestartDigests();
        if (digester_.Computes() &&
            background_.Start(file_.Get(), 0, held_, digester_.Md5Digest(), digester_.Sha256Digest())) {
            // The held bytes are hashed on the digest thread while the rest
            // is received and written.
            digester_.Count(held_);
            hashed_ = held_;
        } else {
            const ResultCode hashed = HashHeld(observer);
            if (hashed != kResultOk) return hashed;
        }
    }
    observer_ = observer;
    // The digests are computed beside the receiving, from the file; in place
    // when no thread can be had.
    if (digester_.Computes() && !background_.Running())
        (void)background_.Start(file_.Get(), held_, held_, digester_.Md5Digest(), digester_.Sha256Digest());
    return kResultOk;
}

// The bytes a resumed part file holds, read through the handle that writes
// it and hashed directly on this thread in large blocks (no hand-over to
// the digest thread); the observer's cancellation is seen after each block.
ResultCode PartFile::HashHeld(TransferObserver* observer) {
    RestartDigests();
    if (!digester_.Computes()) {
        digester_.Count(held_);
        hashed_ = held_;
        return kResultOk;
    }
    LARGE_INTEGER start;
    start.QuadPart = 0;
    if (!SetFilePointerEx(file_.Get(), start, nullptr, FILE_BEGIN)) return GetLastError();
    HeapBlock block(kHashBlockSize);
    if (!block) return ERROR_NOT_ENOUGH_MEMORY;
    uint64_t left = held_;
    while (left) {
        if (observer && observer->IsCancelled()) return E_DL_CANCELLED;
        const DWORD wanted = left < kHashBlockSize ? static_cast<DWORD>(left) : kHashBlockSize;
        DWORD got = 0;
        if (!ReadFile(file_.Get(), block.Get(), wanted, &got, nullptr)) return GetLastError();
        if (!got) return ERROR_HANDLE_EOF;
        digester_.Update(block.Get(), got);
        left -= got;
    }
    hashed_ = held_;
    return kResultOk;
}

ResultCode PartFile::Append(const void* bytes, DWORD count) {
    if (!file_) return ERROR_INVALID_HANDLE;
    // At its offset: the digest thread's reads move the file pointer.
    OVERLAPPED at;
    ZeroMemory(&at, sizeof at);
    at.Offset = static_cast<DWORD>(held_);
    at.OffsetHigh = static_cast<DWORD>(held_ >> 32);
    DWORD written = 0;
    if (!WriteFile(file_.Get(), bytes, count, &written, &at) || written != count) {
        const ResultCode error = GetLastError();
        return error ? error : ERROR_WRITE_FAULT;
    }
    held_ += count;
    if (background_.Running()) {
        digester_.Count(count);
        background_.Publish(held_);
    } else {
        digester_.Update(bytes, count);
    }
    hashed_ = held_;
    return kResultOk;
}

bool PartFile::DigestsProveWhole() {
    if (!expected_.HasDigest() || !held_ || hashed_ != held_) return false;
    if (background_.Finish(observer_) != kResultOk) return false;
    FileDigester digests = digester_;
    ExpectedFile digestsOnly = expected_;
    digestsOnly.size = 0;  // the size is the question, not the answer
    return JudgeFile(digestsOnly, digests.Finish()) == Verdict::Accepted;
}

void PartFile::Flush() {
    if (file_) FlushFileBuffers(file_.Get());
}

Verdict PartFile::Judge(bool* verifiedByDigest) {
    if (verifiedByDigest) *verifiedByDigest = false;
    const ResultCode finished = background_.Finish(observer_);
    background_.Stop();
    if (finished == E_DL_CANCELLED) return Verdict::Cancelled;
    if (finished != kResultOk) {
        // The bytes held could not be read back: they are not judged.
        if (LoggingEnabled) LogLine(u"Part file could not be read:" + path_ + u" " + SystemMessageText(finished));
        RestartDigests();
        Discard();
        return Verdict::Unreadable;
    }
    const FileFacts facts = digester_.Finish();
    digester_.Restart();
    hashed_ = 0;
    const Verdict verdict = JudgeFile(expected_, facts);
    judgedByDigest_ = verdict == Verdict::Accepted && expected_.HasDigest();
    if (verifiedByDigest) *verifiedByDigest = judgedByDigest_;
    if (verdict != Verdict::Accepted) {
        if (LoggingEnabled) LogLine(VerdictLogLine(verdict, expected_, facts));
        Discard();
    }
    return verdict;
}

ResultCode PartFile::PutInPlace() {
    if (!file_) return ERROR_INVALID_HANDLE;
    written_ = IdentityOfOpenFile(file_.Get());
    ResultCode result = RenameOpenFile(file_.Get(), folder_.Path() + name_, true);
    if (result == ERROR_CALL_NOT_IMPLEMENTED) {
        // Without a rename by handle (Windows XP): by name, in the held folder.
        Close();
        (void)folder_.DeleteEntry(name_);
        result = MoveFileW(AddLongPrefixForStorage(path_).wc(), AddLongPrefixForStorage(target_).wc())
                     ? kResultOk
                     : GetLastError();
    }
    Close();
    if (result != kResultOk) {
        written_ = FileIdentity();
        return result;
    }
    protectedWhileWriting_ = createdProtected_;
    DropValidator();
    return kResultOk;
}

Verdict PartFile::HandOver(VerifiedFile* hold, TransferObserver* observer) {
    hold->Close();
    if (!hold->Open(target_, protectedWhileWriting_)) return Verdict::Unreadable;
    const bool written = hold->Identity().SameFileAs(written_);
    if (written && protectedWhileWriting_) {
        // The bytes stand as judged; a signature is read from the hold.
        const Verdict signer = hold->JudgeSigner(expected_);
        if (signer != Verdict::Accepted) hold->Close();
        return signer;
    }
    if (!written && !expected_.JudgesBytes()) {
        if (LoggingEnabled) LogLine(u"Downloaded file was replaced before it could be held:" + target_);
        hold->Close();
        return Verdict::Replaced;
    }
    // Anyone might have written it between the write handle and the hold:
    // only its bytes as held now can tell.
    hold->Close();
    if (!hold->Open(target_)) return Verdict::Unreadable;
    const Verdict verdict = hold->Judge(expected_, observer);
    if (verdict != Verdict::Accepted) hold->Close();
    return verdict;
}

void PartFile::Discard() {
    Close();
    (void)folder_.DeleteEntry(PartName());
    DropValidator();
    held_ = hashed_ = 0;
}

Validator PartFile::ReadValidator() const {
    UniqueFile file;
    if (folder_.OpenFile(ValidatorName(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, nullptr, &file) != kResultOk)
        return Validator();
    uint64_t size = 0;
    if (!SizeOfOpenFile(file.Get(), &size) || size > kValidatorFileLimit) return Validator();
    uint8_t bytes[kValidatorFileLimit];
    DWORD read = 0;
    if (!ReadFile(file.Get(), bytes, static_cast<DWORD>(size), &read, nullptr) || read != size) return Validator();
    return ParseValidatorFile(bytes, read);
}

// Called when the part file has just been created or emptied, before any
// byte of the answer is written: the old validator goes first, so that no
// moment pairs the new answer's validator with the old bytes.
void PartFile::WriteValidator(const Validator& validator) {
    DropValidator();
    uint8_t bytes[kValidatorFileLimit];
    const uint32_t size = ValidatorFileBytes(validator, bytes);
    if (!size) return;
    UniqueFile file;
    if (folder_.OpenFile(ValidatorName(), GENERIC_WRITE, 0, CREATE_NEW, nullptr, &file) != kResultOk) return;
    DWORD written = 0;
    const bool ok = WriteFile(file.Get(), bytes, size, &written, nullptr) && written == size;
    file.Reset();
    // A validator that could not be written whole is none: the part file is
    // then resumed without one.
    if (!ok) DropValidator();
}

void PartFile::DropValidator() { (void)folder_.DeleteEntry(ValidatorName()); }

#include "download/verified_file_win.h"

#include "base/owned.h"
#include "config/prerequisite.h"
#include "download/md5.h"
#include "download/sha256.h"

namespace {

constexpr DWORD kReadBlockSize = 65536;

// The size and digests read from a file against the prerequisite's
// digests, each only when given; an empty file never matches a digest.
bool DigestsMatch(const Prerequisite& prerequisite, uint32_t size, const char16_t md5[33], const char16_t sha256[65]) {
    if (size == 0) return false;
    if (!prerequisite.MD5.IsEmpty() && !DigestTextMatches(prerequisite.MD5.c_str(), prerequisite.MD5.Length(), md5))
        return false;
    return prerequisite.SHA256.IsEmpty() ||
           Sha256TextMatches(prerequisite.SHA256.c_str(), prerequisite.SHA256.Length(), sha256);
}

}  // namespace

bool VerifiedFile::Open(const WString& path, bool movable) {
    path_ = path;
    movable_ = false;
    file_.Reset(CreateFileW(path.wc(), GENERIC_READ | (movable ? DELETE : 0), FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
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
    // The reader's hold is taken before the movable one goes, so the file is
    // held all along; it lets the movable handle's delete right stay until
    // then.
    UniqueFile reader(CreateFileW(target.wc(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    path_ = target;
    if (!reader || !IdentityOfOpenFile(reader.Get()).SameFileAs(Identity())) {
        // Still held, under its new name, by the movable handle.
        return reader ? ERROR_FILE_INVALID : GetLastError();
    }
    file_ = static_cast<UniqueFile&&>(reader);
    movable_ = false;
    return kResultOk;
}

bool VerifiedFile::SizeOf(uint32_t* size) const {
    DWORD high = 0;
    DWORD low = GetFileSize(file_.Get(), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    if (high != 0) return false;
    *size = low;
    return true;
}

bool VerifiedFile::Stream(HANDLE out, uint32_t* size, char16_t md5Text[33], char16_t sha256Text[65]) {
    if (!file_ || !SizeOf(size)) return false;
    LARGE_INTEGER start;
    start.QuadPart = 0;
    if (!SetFilePointerEx(file_.Get(), start, nullptr, FILE_BEGIN)) return false;
    HeapBlock block(kReadBlockSize);
    if (!block) return false;
    Md5 md5;
    Sha256 sha256;
    DWORD remaining = *size;
    while (remaining) {
        DWORD read = 0;
        if (!ReadFile(file_.Get(), block.Get(), kReadBlockSize, &read, nullptr) || read == 0) return false;
        if (read > remaining) read = remaining;
        DWORD written = 0;
        if (out && (!WriteFile(out, block.Get(), read, &written, nullptr) || written != read)) return false;
        if (md5Text) md5.Update(block.Get(), read);
        if (sha256Text) sha256.Update(block.Get(), read);
        remaining -= read;
    }
    if (md5Text) {
        uint8_t md5Bytes[16];
        md5.Finish(md5Bytes);
        Md5DigestToHex(md5Bytes, md5Text);
    }
    if (sha256Text) {
        uint8_t shaBytes[32];
        sha256.Finish(shaBytes);
        Sha256DigestToHex(shaBytes, sha256Text);
    }
    return true;
}

bool VerifiedFile::ReadDigests(uint32_t* size, char16_t md5[33], char16_t sha256[65]) {
    return Stream(nullptr, size, md5, sha256);
}

bool VerifiedFile::Matches(const Prerequisite& prerequisite) {
    if (!file_) return false;
    const uint32_t exactSize = static_cast<uint32_t>(prerequisite.ExactSize);
    uint32_t size = 0;
    if (!SizeOf(&size) || (exactSize != 0 && size != exactSize)) return false;
    if (prerequisite.MD5.IsEmpty() && prerequisite.SHA256.IsEmpty()) return true;
    char16_t md5[33];
    char16_t sha256[65];
    return Stream(nullptr, &size, prerequisite.MD5.IsEmpty() ? nullptr : md5,
                  prerequisite.SHA256.IsEmpty() ? nullptr : sha256) &&
           DigestsMatch(prerequisite, size, md5, sha256);
}

bool VerifiedFile::CopyCheckedTo(const WString& target, const Prerequisite& prerequisite, VerifiedFile* copy) {
    copy->Close();
    uint32_t size = 0;
    char16_t md5[33];
    char16_t sha256[65];
    bool copied;
    {
        UniqueFile out(
            CreateFileW(target.wc(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out) return false;
        copied = Stream(out.Get(), &size, prerequisite.MD5.IsEmpty() ? nullptr : md5,
                        prerequisite.SHA256.IsEmpty() ? nullptr : sha256);
    }
    const uint32_t exactSize = static_cast<uint32_t>(prerequisite.ExactSize);
    const bool digests = !prerequisite.MD5.IsEmpty() || !prerequisite.SHA256.IsEmpty();
    if (copied && (exactSize == 0 || size == exactSize) && (!digests || DigestsMatch(prerequisite, size, md5, sha256)) &&
        copy->Open(target))
        return true;
    copy->Close();
    DeleteFileW(target.wc());
    return false;
}

#include "download/integrity_win.h"

#include <windows.h>

#include "base/fatal.h"
#include "download/md5.h"
#include "platform/win_util.h"

namespace {

constexpr DWORD kMd5BlockSize = 65536;

}  // namespace

bool FileMd5(const WString& path, WString* digest) {
    UniqueFile file(CreateFileW(path.wc(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    DWORD size = GetFileSize(file.Get(), nullptr);
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    if (size == 0) return false;
    BYTE* block = static_cast<BYTE*>(MemAlloc(kMd5BlockSize));
    if (!block) return false;
    Md5 md5;
    DWORD remaining = size;  // a file that grows while it is read is cut here
    while (remaining) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), block, kMd5BlockSize, &read, nullptr) || read == 0) break;
        if (read > remaining) read = remaining;
        md5.Update(block, read);
        remaining -= read;
    }
    MemFree(block);
    uint8_t bytes[16];
    md5.Finish(bytes);
    char16_t hex[33];
    Md5DigestToHex(bytes, hex);
    *digest = WString(hex, 32);
    return true;
}

bool CheckDownloadedFile(const Prerequisite& prerequisite, const WString& path) {
    const uint32_t exactSize = static_cast<uint32_t>(prerequisite.ExactSize);
    if (exactSize != 0) {
        DWORD size = 0;
        UniqueFile file(
            CreateFileW(path.wc(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            size = GetFileSize(file.Get(), nullptr);
            if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) size = 0;
        }
        if (size != exactSize) return false;
    }
    if (!prerequisite.MD5.IsEmpty()) {
        WString digest;
        if (!FileMd5(path, &digest)) return false;
        if (!DigestTextMatches(prerequisite.MD5.c_str(), prerequisite.MD5.Length(), digest.c_str())) return false;
    }
    return true;
}

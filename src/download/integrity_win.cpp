#include "download/integrity_win.h"

#include "download/verified_file_win.h"

bool FileMd5(const WString& path, WString* digest) {
    VerifiedFile file;
    if (!file.Open(path)) return false;
    uint32_t size = 0;
    char16_t md5[33];
    if (!file.ReadDigests(&size, md5, nullptr) || size == 0) return false;
    *digest = WString(md5, 32);
    return true;
}

bool CheckDownloadedFile(const Prerequisite& prerequisite, const WString& path) {
    VerifiedFile file;
    return file.Open(path) && file.Matches(prerequisite);
}

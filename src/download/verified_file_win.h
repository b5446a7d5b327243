// A setup file held so that nobody can change it between its check and its
// launch: opened for reading with read sharing only, so the open fails while
// any process holds a write handle, and while it is held no process can
// write, replace, rename or delete it. CreateProcess and msiexec open a file
// held this way. Its size and digests are read from this handle.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/wstr.h"
#include "platform/unique_handle_win.h"

struct Prerequisite;

class VerifiedFile {
public:
    VerifiedFile() = default;
    VerifiedFile(VerifiedFile&&) noexcept = default;
    VerifiedFile& operator=(VerifiedFile&&) noexcept = default;

    // Takes the hold; false when the file cannot be opened so (missing, a
    // folder, or written by someone at this moment).
    bool Open(const WString& path);
    void Close() { file_.Reset(); }
    bool IsOpen() const { return file_.Valid(); }
    const WString& Path() const { return path_; }

    // The held file's size and its MD5 (32) and SHA-256 (64) lowercase
    // hexadecimal digests, read from the start of the handle to its end.
    // False when it cannot be read whole or is 4 GiB or larger.
    bool ReadDigests(uint32_t* size, char16_t md5[33], char16_t sha256[65]);

    // True when the held file matches the prerequisite's ExactSize, MD5 and
    // SHA256, each only when given (the digests are read only when one is
    // given). An empty file never matches a digest.
    bool Matches(const Prerequisite& prerequisite);

private:
    bool SizeOf(uint32_t* size) const;

    UniqueFile file_;
    WString path_;
};

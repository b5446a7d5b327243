// A setup file held so that nobody can change it between its check and its
// launch: opened for reading with read sharing only, so the open fails while
// any process holds a write handle, and while it is held no process can
// write, replace, rename or delete it. CreateProcess and msiexec open a file
// held this way. Its size and digests are read from this handle.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/wstr.h"
#include "platform/fileops_win.h"
#include "platform/unique_handle_win.h"

struct Prerequisite;

class VerifiedFile {
public:
    VerifiedFile() = default;
    VerifiedFile(VerifiedFile&&) noexcept = default;
    VerifiedFile& operator=(VerifiedFile&&) noexcept = default;

    // Takes the hold; false when the file cannot be opened so (missing, a
    // folder, or written by someone at this moment). A movable hold may
    // also rename the file (MoveTo).
    bool Open(const WString& path, bool movable = false);
    void Close() {
        file_.Reset();
        movable_ = false;
    }
    bool IsOpen() const { return file_.Valid(); }
    bool IsMovable() const { return movable_; }
    const WString& Path() const { return path_; }
    // Which file is held.
    FileIdentity Identity() const { return IdentityOfOpenFile(file_.Get()); }

    // Renames the file of a movable hold to target on the same volume (never
    // replacing a file) and holds it there, no longer movable: the launch
    // and msiexec share the file with a reader only. 0 or the system's error;
    // the hold stays as it was when the rename fails.
    [[nodiscard]] ResultCode MoveTo(const WString& target);

    // The held file's size and its MD5 (32) and SHA-256 (64) lowercase
    // hexadecimal digests (each only when its text is not null), read from
    // the start of the handle to its end.
    // False when it cannot be read whole or is 4 GiB or larger.
    bool ReadDigests(uint32_t* size, char16_t md5[33], char16_t sha256[65]);

    // True when the held file matches the prerequisite's ExactSize, MD5 and
    // SHA256, each only when given (the digests are read only when one is
    // given). An empty file never matches a digest.
    bool Matches(const Prerequisite& prerequisite);

    // Copies the held file into target, a new file (never one that exists),
    // checking the prerequisite's size and digests over the bytes as they
    // are written, and then holds the copy in *copy. False, and no copy left
    // behind, when the copy cannot be made or fails a check.
    bool CopyCheckedTo(const WString& target, const Prerequisite& prerequisite, VerifiedFile* copy);

private:
    bool SizeOf(uint32_t* size) const;
    // Reads the held file from its start to its end, writing every block to
    // out as well unless out is null, and digests what it read into each
    // digest text that is not null (only those are computed).
    bool Stream(HANDLE out, uint32_t* size, char16_t md5[33], char16_t sha256[65]);

    UniqueFile file_;
    WString path_;
    bool movable_ = false;
};

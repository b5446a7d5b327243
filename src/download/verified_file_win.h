// A setup file held so that nobody can change it between its check and its
// launch: opened for reading with read sharing only (never delete sharing),
// so the open fails while any process holds a write handle, and while it is
// held no process can write, replace, rename or delete it. CreateProcess and
// msiexec open a file held this way. Its size and digests are read from this
// handle and judged by the one verdict of download/file_verdict.h.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/wstr.h"
#include "download/file_verdict.h"
#include "download/transfer_observer.h"
#include "platform/fileops_win.h"
#include "platform/unique_handle_win.h"

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
    HANDLE Handle() const { return file_.Get(); }
    // Which file is held.
    FileIdentity Identity() const { return IdentityOfOpenFile(file_.Get()); }

    // Renames the file of a movable hold to target on the same volume (never
    // replacing a file) and holds it there, no longer movable: the launch
    // and msiexec share the file with a reader only. The target's folder
    // must be one that only this run can change (the protected folder): the
    // movable handle goes before the reader's hold is taken there. 0 or the
    // system's error; the hold stays as it was when the rename fails.
    [[nodiscard]] ResultCode MoveTo(const WString& target);

    // The held file's size and the digests the expected file asks for, read
    // from the start of the handle to its end. Unreadable when it cannot be
    // read whole; Cancelled when the observer (may be null) cancels, which
    // is asked after every block read.
    Verdict ReadFacts(const ExpectedFile& expected, FileFacts* facts, TransferObserver* observer = nullptr);

    // The verdict on the held file's bytes (Unreadable when they cannot be
    // read, Cancelled as for ReadFacts), then on its signature when a
    // publisher check is asked for; digests are read only when one is given.
    Verdict Judge(const ExpectedFile& expected, TransferObserver* observer = nullptr);
    // The publisher checks alone, from the held handle: Accepted when none
    // is asked for; a failure is logged with its reason.
    Verdict JudgeSigner(const ExpectedFile& expected);

    // Copies the held file into target, a new file (never one that exists),
    // judging the bytes as they are written, and then holds the copy in
    // *copy. The verdict (Cancelled as for ReadFacts); on anything but
    // Accepted no copy is left behind.
    Verdict CopyCheckedTo(const WString& target, const ExpectedFile& expected, VerifiedFile* copy,
                          TransferObserver* observer = nullptr);

private:
    // Reads the held file from its start to its end, writing every block to
    // out as well unless out is null, through the digester: Accepted,
    // Unreadable or Cancelled.
    Verdict Stream(HANDLE out, FileDigester* digester, TransferObserver* observer);

    UniqueFile file_;
    WString path_;
    bool movable_ = false;
};

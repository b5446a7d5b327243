// A download's file from its creation to its hand-over: the part file
// "<target>.part" beside the target and its validator, in a folder held
// from the moment the transfer binds to it (no link on the way). The part
// file is written through one handle that shares reading only, from the
// moment it is opened to resume or created until it takes the target's
// name: the bytes it holds are measured and hashed on that handle, so the
// digests cover exactly the bytes kept. One verdict (download/file_verdict.h)
// judges them before the rename, and the hand-over decides whether that
// verdict still stands for the file the hold then finds at the target.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/result.h"
#include "base/wstr.h"
#include "download/background_digests_win.h"
#include "download/file_verdict.h"
#include "download/transfer_observer.h"
#include "download/transfer_rules.h"
#include "platform/fileops_win.h"
#include "platform/held_folder_win.h"
#include "platform/unique_handle_win.h"

class VerifiedFile;

// ".part" for the first place of a download, ".part<k>" for mirror k.
WString PartFileSuffix(int mirror);

class PartFile {
public:
    // Bytes hashed per read when a resumed part file's held bytes are hashed.
    static constexpr DWORD kHashBlockSize = 1u << 20;

    PartFile() = default;
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // Binds to a download target: its folder is held (kLinkRefused when a
    // link is on the way), the part file is "<target>.part" and its
    // validator "<target>.part.validator" there; the download from mirror k
    // (from 2 on) keeps its own, "<target>.part<k>" and
    // "<target>.part<k>.validator". protect: a part file begun afresh is
    // created under the protected folder's descriptor (an elevated run). 0
    // or the system's error.
    // root: the download folder the target lies below (held from there
    // down); empty: only the target's own folder is held.
    [[nodiscard]] ResultCode Bind(const WString& target, const ExpectedFile& expected, bool protect, int mirror = 1,
                                  const WString& root = WString());
    const WString& Target() const { return target_; }
    // The held folder's path, ending with a backslash.
    const WString& FolderPath() const { return folder_.Path(); }
    const WString& Path() const { return path_; }
    const ExpectedFile& Expected() const { return expected_; }

    // Opens the part file an earlier attempt left, to continue it: from here
    // on nobody else can write it, and the bytes it holds are measured on
    // this handle. 0 when there is none, or when this run may not write it
    // or cannot read its size (it is then begun afresh).
    uint64_t OpenToResume();
    bool IsOpen() const { return file_.Valid(); }
    uint64_t Held() const { return held_; }

    // Makes the part file hold exactly its first keep bytes and the digests
    // cover them: keep equal to the bytes held continues it (those bytes are
    // hashed from this handle on the digest thread while the rest comes, or
    // here in large blocks when no thread can be had, unless they are hashed
    // already); 0 begins it afresh (a new file under the protected
    // descriptor when asked for, else emptied) and drops its validator.
    // E_DL_CANCELLED when the observer cancels while bytes are hashed here;
    // the observer is asked again while Judge waits for the digest thread.
    [[nodiscard]] ResultCode Prepare(uint64_t keep, TransferObserver* observer);
    // Writes the bytes at the end of those held and hashes them.
    [[nodiscard]] ResultCode Append(const void* bytes, DWORD count);
    // True when a digest is given and the bytes held (at least one) match
    // every digest given: they are the file, wherever its body ended. The
    // digests go on unchanged.
    bool DigestsProveWhole();
    // The expected size leaves no room for count more bytes.
    bool WouldPassExpectedSize(uint64_t count) const {
        return expected_.size != 0 && held_ + count > expected_.size;
    }
    void Flush();

    // The verdict over every byte held. A rejected part file is deleted with
    // its validator, and the reason logged. verifiedByDigest tells that a
    // digest was given and matched. Cancelled when the observer cancels
    // while the digest thread catches up (the part file stays).
    Verdict Judge(bool* verifiedByDigest = nullptr);
    // Gives the part file the target's name (replacing a file there),
    // closes it and drops the validator. 0 or the system's error.
    [[nodiscard]] ResultCode PutInPlace();
    // After PutInPlace: takes the hold on the target. The verdict on the
    // bytes written stands only for the very file written, and only when it
    // was created under the protected descriptor (nobody else could change
    // it after its handle closed); any other file is judged from the hold,
    // and one that is not the file written is rejected unless a digest
    // judges it. A hold taken on a protected file may move it. The
    // observer's cancellation is seen while the hold's bytes are read.
    Verdict HandOver(VerifiedFile* hold, TransferObserver* observer);

    // Closes and deletes the part file and its validator.
    void Discard();
    // Closes the part file; it stays for a later run.
    void Close();

    // The validator kept beside the part file (None when there is none or
    // it is malformed); WriteValidator replaces it, DropValidator deletes it.
    Validator ReadValidator() const;
    void WriteValidator(const Validator& validator);
    void DropValidator();

    // True after a successful PutInPlace of a file created afresh under the
    // protected descriptor and written whole by this transfer.
    bool ProtectedWhileWriting() const { return protectedWhileWriting_; }
    const FileIdentity& Written() const { return written_; }

private:
    WString PartName() const { return name_ + PartFileSuffix(mirror_); }
    WString ValidatorName() const { return PartName() + u".validator"; }
    [[nodiscard]] ResultCode CreateAfresh();
    [[nodiscard]] ResultCode HashHeld(TransferObserver* observer);
    void RestartDigests();

    HeldFolder folder_;
    WString target_;
    WString name_;  // the target's file name
    WString path_;  // the part file's path
    ExpectedFile expected_;
    bool protect_ = false;
    int mirror_ = 1;
    UniqueFile file_;
    uint64_t held_ = 0;
    // Bytes of the part file the digests cover so far.
    uint64_t hashed_ = 0;
    FileDigester digester_;
    // Declared after the digester whose digests it updates, so it ends first.
    BackgroundDigests background_;
    // Asked about a cancellation while the digest thread is waited for.
    TransferObserver* observer_ = nullptr;
    bool createdProtected_ = false;
    bool protectedWhileWriting_ = false;
    bool judgedByDigest_ = false;
    FileIdentity written_;
};

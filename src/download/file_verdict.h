// The one verdict on a setup file's bytes: the author's ExactSize, MD5 and
// SHA256 (each only when given) against what was read of the file, with
// the rule that an empty file never matches a digest. The transfer judges
// the bytes it wrote by it, the hold the bytes it holds, and corvane-check
// the files of a package folder. Portable.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "base/wstr.h"
#include "download/md5.h"
#include "download/sha256.h"

struct Prerequisite;

// What a setup file must be.
struct ExpectedFile {
    uint64_t size = 0;  // 0: no size is given
    WString md5;        // empty: none given
    WString sha256;
    // The publisher checks (SignerThumbprint, SignerName): judged from a
    // held file's signature (download/signer_check_win.h), never from the
    // bytes as they pass.
    WString signerThumbprint;
    WString signerName;

    bool WantsMd5() const { return !md5.IsEmpty(); }
    bool WantsSha256() const { return !sha256.IsEmpty(); }
    bool HasDigest() const { return WantsMd5() || WantsSha256(); }
    bool ChecksSigner() const { return !signerThumbprint.IsEmpty() || !signerName.IsEmpty(); }
    // Something that judges the bytes themselves (ExactSize alone does not).
    bool JudgesBytes() const { return HasDigest() || ChecksSigner(); }
    bool HasCheck() const { return size != 0 || JudgesBytes(); }
};
ExpectedFile ExpectedFileOf(const Prerequisite& prerequisite);

// What was read of a file: its size, and the lowercase hexadecimal digests
// that were asked for (empty texts for those that were not).
struct FileFacts {
    uint64_t size = 0;
    char16_t md5[33] = {};
    char16_t sha256[65] = {};
};

enum class Verdict {
    Accepted,
    SizeDiffers,    // ExactSize is given and differs
    EmptyFile,      // a digest is given and the file is empty
    Md5Differs,
    Sha256Differs,
    SignerRejected,  // the publisher checks failed (the reason is logged)
    // What the hold met rather than bytes to judge:
    Unreadable,  // the file could not be held or read whole
    Replaced,    // not the file written, and nothing can judge its bytes
    Cancelled,   // the observer cancelled while the bytes were read
};

Verdict JudgeFile(const ExpectedFile& expected, const FileFacts& facts);

// The log line of a rejected download (nothing for Accepted).
WString VerdictLogLine(Verdict verdict, const ExpectedFile& expected, const FileFacts& facts);

// The size and the digests an expected file asks for, over bytes as they
// pass (only those digests are computed).
class FileDigester {
public:
    explicit FileDigester(const ExpectedFile& expected = ExpectedFile()) { Reset(expected); }
    void Reset(const ExpectedFile& expected);
    // Starts again from no byte, for the same expected file.
    void Restart();
    void Update(const void* bytes, size_t count);
    // The digests for a computation on another thread (null when not asked
    // for); the size is then counted with Count.
    Md5* Md5Digest() { return md5Wanted_ ? &md5_ : nullptr; }
    Sha256* Sha256Digest() { return sha256Wanted_ ? &sha256_ : nullptr; }
    void Count(uint64_t bytes) { size_ += bytes; }
    bool Computes() const { return md5Wanted_ || sha256Wanted_; }
    uint64_t Size() const { return size_; }
    // The facts of every byte passed since the last (re)start; Restart
    // before the next use.
    FileFacts Finish();

private:
    bool md5Wanted_ = false;
    bool sha256Wanted_ = false;
    uint64_t size_ = 0;
    Md5 md5_;
    Sha256 sha256_;
};

#include "download/file_verdict.h"

#include "config/prerequisite.h"

ExpectedFile ExpectedFileOf(const Prerequisite& prerequisite) {
    ExpectedFile expected;
    expected.size = prerequisite.ExactSize;
    expected.md5 = prerequisite.MD5.Trimmed();
    expected.sha256 = prerequisite.SHA256.Trimmed();
    expected.signerThumbprint = prerequisite.SignerThumbprint;
    expected.signerName = prerequisite.SignerName;
    return expected;
}

Verdict JudgeFile(const ExpectedFile& expected, const FileFacts& facts) {
    if (expected.size != 0 && facts.size != expected.size) return Verdict::SizeDiffers;
    if (!expected.HasDigest()) return Verdict::Accepted;
    if (facts.size == 0) return Verdict::EmptyFile;
    if (expected.WantsMd5() && !DigestTextMatches(expected.md5.c_str(), expected.md5.Length(), facts.md5))
        return Verdict::Md5Differs;
    if (expected.WantsSha256() && !Sha256TextMatches(expected.sha256.c_str(), expected.sha256.Length(), facts.sha256))
        return Verdict::Sha256Differs;
    return Verdict::Accepted;
}

WString VerdictLogLine(Verdict verdict, const ExpectedFile& expected, const FileFacts& facts) {
    switch (verdict) {
        case Verdict::Accepted:
            break;
        case Verdict::SizeDiffers:
            return WString(u"Downloaded size differs from the expected size:").AppendUnsigned(expected.size);
        case Verdict::EmptyFile:
            return WString(u"Downloaded file is empty, no digest can match it.");
        case Verdict::Md5Differs:
            return WString(u"MD5 of the downloaded file differs:") + WString(facts.md5);
        case Verdict::Sha256Differs:
            return WString(u"SHA256 of the downloaded file differs:") + WString(facts.sha256);
        case Verdict::SignerRejected:
        case Verdict::Unreadable:
        case Verdict::Replaced:
        case Verdict::Cancelled:
            break;
    }
    return WString();
}

void FileDigester::Reset(const ExpectedFile& expected) {
    md5Wanted_ = expected.WantsMd5();
    sha256Wanted_ = expected.WantsSha256();
    Restart();
}

void FileDigester::Restart() {
    size_ = 0;
    md5_.Reset();
    sha256_.Reset();
}

void FileDigester::Update(const void* bytes, size_t count) {
    if (md5Wanted_) md5_.Update(bytes, count);
    if (sha256Wanted_) sha256_.Update(bytes, count);
    size_ += count;
}

FileFacts FileDigester::Finish() {
    FileFacts facts;
    facts.size = size_;
    if (md5Wanted_) {
        uint8_t digest[16];
        md5_.Finish(digest);
        Md5DigestToHex(digest, facts.md5);
    }
    if (sha256Wanted_) {
        uint8_t digest[32];
        sha256_.Finish(digest);
        Sha256DigestToHex(digest, facts.sha256);
    }
    return facts;
}

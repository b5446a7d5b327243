#include <gtest/gtest.h>

#include <string.h>

#include "download/file_verdict.h"

namespace {

const char16_t* const kAbcMd5 = u"900150983cd24fb0d6963f7d28e17f72";
const char16_t* const kAbcSha256 = u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const char16_t* const kEmptyMd5 = u"d41d8cd98f00b204e9800998ecf8427e";
const char16_t* const kEmptySha256 = u"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

Verdict Judge(const char* bytes, uint64_t size, const char16_t* md5, const char16_t* sha256) {
    ExpectedFile expected;
    expected.size = size;
    expected.md5 = WString(md5);
    expected.sha256 = WString(sha256);
    FileDigester digester(expected);
    // Fed in two pieces, as bytes come from a transfer.
    const size_t length = strlen(bytes);
    digester.Update(bytes, length / 2);
    digester.Update(bytes + length / 2, length - length / 2);
    return JudgeFile(expected, digester.Finish());
}

// One verdict for the transfer, the hold and the checker: size first, then
// the digests given; an empty file never matches a digest, not even the
// digest of the empty text.
TEST(FileVerdict, SizeDigestsAndTheEmptyFile) {
    struct Case {
        const char* bytes;
        uint64_t size;
        const char16_t* md5;
        const char16_t* sha256;
        Verdict verdict;
    } cases[] = {
        {"abc", 0, u"", u"", Verdict::Accepted},
        {"abc", 3, u"", u"", Verdict::Accepted},
        {"abc", 4, u"", u"", Verdict::SizeDiffers},
        {"abc", 0x100000003ull, u"", u"", Verdict::SizeDiffers},  // sizes are never cut to 32 bits
        {"abc", 3, kAbcMd5, u"", Verdict::Accepted},
        {"abc", 0, u"900150983CD24FB0D6963F7D28E17F72", u"", Verdict::Accepted},
        {"abc", 0, u"900150983cd24fb0d6963f7d28e17f72Z", u"", Verdict::Accepted},  // beyond 32 digits unread
        {"abc", 0, u"900150983cd24fb0d6963f7d28e17f7", u"", Verdict::Md5Differs},
        {"abc", 0, kEmptyMd5, u"", Verdict::Md5Differs},
        {"abc", 4, kAbcMd5, u"", Verdict::SizeDiffers},  // size first
        {"abc", 3, u"", kAbcSha256, Verdict::Accepted},
        {"abc", 0, u"", u"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", Verdict::Accepted},
        {"abc", 0, u"", u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ae", Verdict::Sha256Differs},
        {"abc", 0, u"", u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015", Verdict::Sha256Differs},
        {"abc", 0, u"", u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015adZ", Verdict::Sha256Differs},
        {"abc", 0, kAbcMd5, kAbcSha256, Verdict::Accepted},
        {"abc", 0, kEmptyMd5, kAbcSha256, Verdict::Md5Differs},
        {"abc", 0, kAbcMd5, kEmptySha256, Verdict::Sha256Differs},
        {"", 0, kEmptyMd5, u"", Verdict::EmptyFile},
        {"", 0, u"", kEmptySha256, Verdict::EmptyFile},
        {"", 0, u"", u"", Verdict::Accepted},
        {"", 5, u"", u"", Verdict::SizeDiffers},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Judge(c.bytes, c.size, c.md5, c.sha256), c.verdict) << c.bytes << " " << c.size;
}

// What a rejection logs names the digest found, or the size expected.
TEST(FileVerdict, LogLines) {
    ExpectedFile expected;
    expected.size = 5000000000ull;
    expected.md5 = WString(kEmptyMd5);
    FileDigester digester(expected);
    digester.Update("abc", 3);
    const FileFacts facts = digester.Finish();
    EXPECT_TRUE(VerdictLogLine(Verdict::SizeDiffers, expected, facts) ==
                u"Downloaded size differs from the expected size:5000000000");
    EXPECT_TRUE(VerdictLogLine(Verdict::Md5Differs, expected, facts) ==
                WString(u"MD5 of the downloaded file differs:") + kAbcMd5);
    EXPECT_TRUE(VerdictLogLine(Verdict::Accepted, expected, facts).IsEmpty());
}

}  // namespace

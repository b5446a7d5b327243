#include <gtest/gtest.h>

#include <windows.h>

#include "download/file_transfer_win.h"
#include "config/prerequisite.h"
#include "download/background_digests_win.h"
#include "download/verified_file_win.h"
#include "platform/win_util.h"

namespace {

const char16_t* const kAbcSha256 = u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

class TempFile {
public:
    explicit TempFile(const char* content, DWORD size) {
        wchar_t folder[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        wchar_t name[MAX_PATH];
        GetTempFileNameW(folder, L"cvi", 0, name);
        path = WString(name);
        UniqueFile file(CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (size) WriteFile(file.Get(), content, size, &written, nullptr);
    }
    ~TempFile() { DeleteFileW(path.wc()); }
    WString path;
};

// The file's MD5 read through a hold; false for a file that cannot be held
// or read, or is empty.
bool Md5Of(const WString& path, WString* digest) {
    VerifiedFile file;
    uint32_t size = 0;
    char16_t md5[33];
    if (!file.Open(path) || !file.ReadDigests(&size, md5, nullptr) || size == 0) return false;
    *digest = WString(md5, 32);
    return true;
}

bool Accepted(const Prerequisite& prerequisite, const WString& path) {
    VerifiedFile file;
    return file.Open(path) && file.Matches(prerequisite);
}

TEST(VerifiedFile, Md5) {
    TempFile abc("abc", 3);
    WString digest;
    ASSERT_TRUE(Md5Of(abc.path, &digest));
    EXPECT_TRUE(digest == u"900150983cd24fb0d6963f7d28e17f72");

    // Larger than one read block, so the digest runs over several blocks.
    const DWORD size = 65536 * 2 + 17;
    char* big = new char[size];
    for (DWORD i = 0; i < size; ++i) big[i] = 'a';
    TempFile large(big, size);
    delete[] big;
    ASSERT_TRUE(Md5Of(large.path, &digest));
    EXPECT_TRUE(digest == u"84d75ecbecf35a864f17740471a16d7d");

    TempFile empty("", 0);
    EXPECT_FALSE(Md5Of(empty.path, &digest));
    EXPECT_FALSE(Md5Of(WString(u"Z:\\no\\such\\file.bin"), &digest));
}

TEST(VerifiedFile, Matches) {
    TempFile abc("abc", 3);
    TempFile empty("", 0);
    const char16_t* abcShaUpper = u"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    struct Case {
        const WString* path;
        int32_t exactSize;
        const char16_t* md5;
        const char16_t* sha256;
        bool accepted;
    } cases[] = {
        {&abc.path, 0, u"", u"", true},
        {&abc.path, 3, u"", u"", true},
        {&abc.path, 4, u"", u"", false},
        {&abc.path, 3, u"900150983cd24fb0d6963f7d28e17f72", u"", true},
        {&abc.path, 0, u"900150983CD24FB0D6963F7D28E17F72", u"", true},
        {&abc.path, 0, u"900150983cd24fb0d6963f7d28e17f72Z", u"", true},
        {&abc.path, 0, u"900150983cd24fb0d6963f7d28e17f7", u"", false},
        {&abc.path, 0, u"d41d8cd98f00b204e9800998ecf8427e", u"", false},
        {&abc.path, 4, u"900150983cd24fb0d6963f7d28e17f72", u"", false},  // size first
        // SHA-256 alone, in either case, and beside MD5: both must match.
        {&abc.path, 3, u"", kAbcSha256, true},
        {&abc.path, 0, u"", abcShaUpper, true},
        {&abc.path, 0, u"", u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ae", false},
        {&abc.path, 0, u"", u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015", false},
        {&abc.path, 0, u"", u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015adZ", false},
        {&abc.path, 0, u"900150983cd24fb0d6963f7d28e17f72", kAbcSha256, true},
        {&abc.path, 0, u"d41d8cd98f00b204e9800998ecf8427e", kAbcSha256, false},
        {&abc.path, 0, u"900150983cd24fb0d6963f7d28e17f72",
         u"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", false},
        // An empty file is never digested: any digest rejects it.
        {&empty.path, 0, u"d41d8cd98f00b204e9800998ecf8427e", u"", false},
        {&empty.path, 0, u"", u"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", false},
        {&empty.path, 0, u"", u"", true},
    };
    for (const auto& c : cases) {
        Prerequisite prerequisite;
        prerequisite.ExactSize = c.exactSize;
        prerequisite.MD5 = WString(c.md5);
        prerequisite.SHA256 = WString(c.sha256);
        EXPECT_EQ(Accepted(prerequisite, *c.path), c.accepted) << c.exactSize;
    }
    Prerequisite sized;
    sized.ExactSize = 3;
    EXPECT_FALSE(Accepted(sized, WString(u"Z:\\no\\such\\file.bin")));
}

// A held file cannot be written, renamed or deleted by anyone, and a file
// someone is writing cannot be taken.
TEST(VerifiedFile, HeldFileCannotBeChanged) {
    TempFile abc("abc", 3);
    VerifiedFile held;
    ASSERT_TRUE(held.Open(abc.path));
    UniqueFile writer(CreateFileW(abc.path.wc(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(writer.Valid());
    EXPECT_FALSE(DeleteFileW(abc.path.wc()));
    WString moved = abc.path + u".moved";
    EXPECT_FALSE(MoveFileW(abc.path.wc(), moved.wc()));
    // A second reader is let in (the launch opens the file so).
    UniqueFile reader(CreateFileW(abc.path.wc(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(reader.Valid());
    reader.Reset();
    held.Close();

    UniqueFile busy(CreateFileW(abc.path.wc(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(busy.Valid());
    EXPECT_FALSE(held.Open(abc.path));
    busy.Reset();
    Prerequisite sha;
    sha.SHA256 = WString(kAbcSha256);
    ASSERT_TRUE(held.Open(abc.path));
    EXPECT_TRUE(held.Matches(sha));
}

// A movable hold renames the file it holds, which stays the same file and
// stays held; a name that exists is never replaced.
TEST(VerifiedFile, MovableHoldMovesTheFileItHolds) {
    TempFile abc("abc", 3);
    TempFile occupied("xyz", 3);
    VerifiedFile held;
    ASSERT_TRUE(held.Open(abc.path, true));
    const FileIdentity before = held.Identity();
    EXPECT_NE(held.MoveTo(occupied.path), 0u);
    EXPECT_TRUE(held.Path() == abc.path);
    const WString moved = abc.path + u".moved";
    ASSERT_EQ(held.MoveTo(moved), 0u);
    EXPECT_TRUE(held.Path() == moved);
    EXPECT_FALSE(held.IsMovable());
    EXPECT_TRUE(held.Identity().SameFileAs(before));
    EXPECT_EQ(GetFileAttributesW(abc.path.wc()), INVALID_FILE_ATTRIBUTES);
    UniqueFile writer(CreateFileW(moved.wc(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(writer.Valid());
    // Now held for reading only: a reader that shares only reading gets in.
    UniqueFile reader(CreateFileW(moved.wc(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(reader.Valid());
    reader.Reset();
    Prerequisite sha;
    sha.SHA256 = WString(kAbcSha256);
    EXPECT_TRUE(held.Matches(sha));
    held.Close();
    DeleteFileW(moved.wc());
}

// Digests computed on their own thread equal those computed in place, for
// pieces of every size up to a slot, with a wait for the thread in between.
TEST(VerifiedFile, BackgroundDigestsEqualThoseInPlace) {
    const DWORD sizes[] = {1, 63, 64, 65, 4096, 51200, BackgroundDigests::kSlotSize, 7};
    static BYTE data[BackgroundDigests::kSlotSize];
    for (DWORD i = 0; i < sizeof data; ++i) data[i] = static_cast<BYTE>(i * 7 + (i >> 9));
    Md5 md5, md5InPlace;
    Sha256 sha256, sha256InPlace;
    BackgroundDigests digests;
    ASSERT_TRUE(digests.Start(&md5, &sha256));
    for (int round = 0; round < 40; ++round) {
        const DWORD size = sizes[round % 8];
        digests.Add(data, size);
        md5InPlace.Update(data, size);
        sha256InPlace.Update(data, size);
        if (round == 20) digests.Finish();
    }
    digests.Stop();
    uint8_t a[32], b[32];
    md5.Finish(a);
    md5InPlace.Finish(b);
    EXPECT_EQ(memcmp(a, b, 16), 0);
    sha256.Finish(a);
    sha256InPlace.Finish(b);
    EXPECT_EQ(memcmp(a, b, 32), 0);
}

class CopyObserver : public TransferObserver {
public:
    int started = 0;
    uint32_t startedTotal = 99;
    bool startedWithEmptyTarget = false;
    int progressCalls = 0;
    uint32_t progressSum = 0;
    bool cancel = false;
    void SetItemCount(uint64_t, int) override {}
    void OnTransferStarted(int kind, uint32_t total, const WString& target) override {
        ++started;
        startedTotal = total;
        startedWithEmptyTarget = kind == 1 && target.IsEmpty();
    }
    void OnFinished(int, int) override {}
    void OnProgress(uint32_t bytes) override {
        ++progressCalls;
        progressSum += bytes;
    }
    bool IsCancelled() override { return cancel; }
    uint32_t OnError(const WString&, uint32_t code, void*) override { return code; }
    void SetStatusText(const WString&, int, int) override {}
};

LARGE_INTEGER Large(int64_t v) {
    LARGE_INTEGER l;
    l.QuadPart = v;
    return l;
}

DWORD Step(LocalCopyContext* context, int64_t total, int64_t done, DWORD reason) {
    return LocalCopyProgress(Large(total), Large(done), Large(total), Large(done), 1, reason, nullptr, nullptr, context);
}

TEST(LocalCopy, ProgressIsThrottledAndEndsAtTheTotal) {
    CopyObserver observer;
    LocalCopyContext context = {&observer, 5, 5, 0, 0, 5};
    const int64_t total = 1000000;
    EXPECT_EQ(Step(&context, total, 0, CALLBACK_STREAM_SWITCH), (DWORD)PROGRESS_CONTINUE);
    EXPECT_EQ(observer.started, 1);
    EXPECT_EQ(observer.startedTotal, (uint32_t)total);
    EXPECT_TRUE(observer.startedWithEmptyTarget);
    // The stream start reports at once (no report was made yet); the chunks
    // that follow within 200 ms are held back.
    const int before = observer.progressCalls;
    for (int64_t done = 65536; done < total; done += 65536) Step(&context, total, done, CALLBACK_CHUNK_FINISHED);
    EXPECT_LE(observer.progressCalls - before, 2);
    Step(&context, total, total, CALLBACK_CHUNK_FINISHED);
    EXPECT_EQ(observer.progressSum, (uint32_t)total);
}

TEST(LocalCopy, CancellationStopsTheCopy) {
    CopyObserver observer;
    LocalCopyContext context = {&observer, 0, 0, 0, 0, 0};
    EXPECT_EQ(Step(&context, 100, 0, CALLBACK_STREAM_SWITCH), (DWORD)PROGRESS_CONTINUE);
    observer.cancel = true;
    EXPECT_EQ(Step(&context, 100, 50, CALLBACK_CHUNK_FINISHED), (DWORD)PROGRESS_CANCEL);
    LocalCopyContext silent = {nullptr, 0, 0, 0, 0, 0};
    EXPECT_EQ(Step(&silent, 100, 0, CALLBACK_STREAM_SWITCH), (DWORD)PROGRESS_CONTINUE);
    EXPECT_EQ(Step(&silent, 100, 100, CALLBACK_CHUNK_FINISHED), (DWORD)PROGRESS_CONTINUE);
}

}  // namespace

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "download/file_transfer_win.h"
#include "config/prerequisite.h"
#include "download/background_digests_win.h"
#include "download/part_file_win.h"
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
    ExpectedFile md5Only;
    md5Only.md5 = u"?";
    FileFacts facts;
    if (!file.Open(path) || file.ReadFacts(md5Only, &facts) != Verdict::Accepted || facts.size == 0) return false;
    *digest = WString(facts.md5, 32);
    return true;
}

ExpectedFile Sha256Of(const char16_t* digest) {
    ExpectedFile expected;
    expected.sha256 = WString(digest);
    return expected;
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

// The hold judges what it holds; a file it cannot hold is never accepted.
TEST(VerifiedFile, JudgesTheHeldBytes) {
    TempFile abc("abc", 3);
    VerifiedFile held;
    ASSERT_TRUE(held.Open(abc.path));
    EXPECT_EQ(held.Judge(Sha256Of(kAbcSha256)), Verdict::Accepted);
    ExpectedFile sized;
    sized.size = 4;
    EXPECT_EQ(held.Judge(sized), Verdict::SizeDiffers);
    held.Close();
    EXPECT_EQ(held.Judge(ExpectedFile()), Verdict::Unreadable);
    EXPECT_FALSE(held.Open(WString(u"Z:\\no\\such\\file.bin")));
}

// Answers IsCancelled with true from its cancelFrom-th question on.
class CancellingObserver : public TransferObserver {
public:
    explicit CancellingObserver(int from) : cancelFrom(from) {}
    void SetItemCount(uint64_t, int) override {}
    void OnTransferStarted(int, uint64_t, const WString&) override {}
    void OnFinished(int, int) override {}
    void OnProgress(uint64_t) override {}
    bool IsCancelled() override { return ++questions >= cancelFrom; }
    uint32_t OnError(const WString&, uint32_t code, void*) override { return code; }
    void SetStatusText(const WString&, int, int) override {}
    int cancelFrom;
    int questions = 0;
};

// Reading a held file (to judge it, or to copy it) sees a cancellation after
// every 1 MiB block; a cancelled copy leaves nothing behind.
TEST(VerifiedFile, CancellationIsSeenBetweenBlocks) {
    const DWORD size = (2u << 20) + 1;  // three blocks
    char* bytes = new char[size]();
    TempFile large(bytes, size);
    delete[] bytes;
    struct Case {
        int cancelFrom;
        Verdict verdict;
        int questions;  // asked until the answer
    } cases[] = {{1, Verdict::Cancelled, 1}, {3, Verdict::Cancelled, 3}, {4, Verdict::Sha256Differs, 3}};
    for (const auto& c : cases) {
        VerifiedFile held;
        ASSERT_TRUE(held.Open(large.path));
        CancellingObserver judge(c.cancelFrom);
        EXPECT_EQ(held.Judge(Sha256Of(kAbcSha256), &judge), c.verdict) << c.cancelFrom;
        EXPECT_EQ(judge.questions, c.questions) << c.cancelFrom;
        CancellingObserver copying(c.cancelFrom);
        VerifiedFile copy;
        const WString copyPath = large.path + u".copy";
        EXPECT_EQ(held.CopyCheckedTo(copyPath, Sha256Of(kAbcSha256), &copy, &copying), c.verdict) << c.cancelFrom;
        EXPECT_EQ(GetFileAttributesW(copyPath.wc()), INVALID_FILE_ATTRIBUTES) << c.cancelFrom;
    }
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
    ASSERT_TRUE(held.Open(abc.path));
    EXPECT_EQ(held.Judge(Sha256Of(kAbcSha256)), Verdict::Accepted);
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
    // Now held for reading only, never sharing delete: a reader that shares
    // only reading gets in, a rename does not.
    UniqueFile reader(CreateFileW(moved.wc(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(reader.Valid());
    reader.Reset();
    EXPECT_FALSE(MoveFileW(moved.wc(), (moved + u"2").wc()));
    EXPECT_EQ(held.Judge(Sha256Of(kAbcSha256)), Verdict::Accepted);
    held.Close();
    DeleteFileW(moved.wc());
}

// Digests computed on their own thread from the file equal those computed in
// place: bytes held before the start (some hashed already), pieces of every
// size written at their offsets and published, a wait for the thread in
// between, blocks read back across the thread's block size. A handle that
// cannot read answers the read's error.
TEST(VerifiedFile, BackgroundDigestsEqualThoseInPlace) {
    const DWORD sizes[] = {1, 63, 64, 65, 4096, 51200, BackgroundDigests::kBlockSize, 7, BackgroundDigests::kBlockSize + 5};
    static BYTE data[2 * BackgroundDigests::kBlockSize];
    for (DWORD i = 0; i < sizeof data; ++i) data[i] = static_cast<BYTE>(i * 7 + (i >> 9));
    const WString path = TempFolder() + u"cvdigests.bin";
    UniqueFile file(CreateFileW(path.wc(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    ASSERT_TRUE(file.Valid());
    Md5 md5, md5InPlace;
    Sha256 sha256, sha256InPlace;
    uint64_t end = 0;
    auto write = [&](DWORD size) {
        OVERLAPPED at;
        ZeroMemory(&at, sizeof at);
        at.Offset = static_cast<DWORD>(end);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.Get(), data, size, &written, &at) && written == size);
        end += size;
        md5InPlace.Update(data, size);
        sha256InPlace.Update(data, size);
    };
    // 100 bytes hashed before the start, then 1.5 blocks held.
    write(100);
    md5.Update(data, 100);
    sha256.Update(data, 100);
    write(BackgroundDigests::kBlockSize + BackgroundDigests::kBlockSize / 2);
    BackgroundDigests digests;
    ASSERT_TRUE(digests.Start(file.Get(), 100, end, &md5, &sha256));
    for (int round = 0; round < 27; ++round) {
        write(sizes[round % 9]);
        digests.Publish(end);
        if (round == 13) {
            EXPECT_EQ(digests.Finish(nullptr), kResultOk);
        }
    }
    EXPECT_EQ(digests.Finish(nullptr), kResultOk);
    digests.Stop();
    uint8_t a[32], b[32];
    md5.Finish(a);
    md5InPlace.Finish(b);
    EXPECT_EQ(memcmp(a, b, 16), 0);
    sha256.Finish(a);
    sha256InPlace.Finish(b);
    EXPECT_EQ(memcmp(a, b, 32), 0);

    UniqueFile writeOnly(CreateFileW((path + u"2").wc(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    ASSERT_TRUE(writeOnly.Valid());
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writeOnly.Get(), data, 10, &written, nullptr));
    ASSERT_TRUE(digests.Start(writeOnly.Get(), 0, 10, &md5, nullptr));
    EXPECT_NE(digests.Finish(nullptr), kResultOk);
}

// A folder of its own for each part-file test.
class TestFolder {
public:
    TestFolder() {
        WString base = TempFolder() + u"cvpart";
        FreshNames names;
        do {
            path = names.Next(base);
        } while (!CreateDirectoryW(path.wc(), nullptr));
        path.Append(u'\\');
    }
    ~TestFolder() {
        DeleteTreeContents(path);
        RemoveDirectoryW(path.wc());
    }
    void Write(const char16_t* name, const char* bytes) const {
        UniqueFile file(CreateFileW((path + name).wc(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        WriteFile(file.Get(), bytes, static_cast<DWORD>(strlen(bytes)), &written, nullptr);
    }
    std::string Read(const char16_t* name) const {
        UniqueFile file(CreateFileW((path + name).wc(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file) return "<none>";
        char buffer[64] = {};
        DWORD read = 0;
        ReadFile(file.Get(), buffer, sizeof buffer - 1, &read, nullptr);
        return std::string(buffer, read);
    }
    WString path;
};

ExpectedFile Expect(uint64_t size, const char16_t* md5) {
    ExpectedFile expected;
    expected.size = size;
    expected.md5 = WString(md5);
    return expected;
}

// The part file from what an earlier attempt left to the target: the bytes
// kept are those measured and hashed on the handle that goes on writing, a
// fresh start forgets the old ones, and one verdict decides before the
// rename. The empty text's own digest never makes an empty file right.
TEST(PartFile, KeepsHashesAndJudgesTheBytesItHolds) {
    struct Case {
        const char* left;  // the part file an earlier attempt left (null: none)
        bool keep;         // continue it rather than begin afresh
        const char* appended;
        ExpectedFile expected;
        Verdict verdict;
        const char* target;  // what the target holds afterwards
    } cases[] = {
        {"ab", true, "c", Expect(3, u"900150983cd24fb0d6963f7d28e17f72"), Verdict::Accepted, "abc"},
        {"ab", true, "c", Expect(0, u"ffffffffffffffffffffffffffffffff"), Verdict::Md5Differs, "<none>"},
        {"zz", false, "abc", Expect(0, u"900150983cd24fb0d6963f7d28e17f72"), Verdict::Accepted, "abc"},
        {nullptr, false, "abc", Expect(4, u""), Verdict::SizeDiffers, "<none>"},
        {nullptr, false, "", Expect(0, u"d41d8cd98f00b204e9800998ecf8427e"), Verdict::EmptyFile, "<none>"},
        {"", true, "", Expect(0, u""), Verdict::Accepted, ""},
    };
    for (const Case& c : cases) {
        TestFolder folder;
        if (c.left) folder.Write(u"setup.exe.part", c.left);
        PartFile part;
        ASSERT_EQ(part.Bind(folder.path + u"setup.exe", c.expected, false), 0u);
        const uint64_t held = part.OpenToResume();
        EXPECT_EQ(held, c.left ? strlen(c.left) : 0u);
        if (c.left && *c.left) {
            // Nobody else writes a part file that is open to resume.
            UniqueFile writer(CreateFileW((folder.path + u"setup.exe.part").wc(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
            EXPECT_FALSE(writer.Valid());
        }
        ASSERT_EQ(part.Prepare(c.keep ? held : 0, nullptr), 0u);
        if (*c.appended) {
            ASSERT_EQ(part.Append(c.appended, static_cast<DWORD>(strlen(c.appended))), 0u);
        }
        const Verdict verdict = part.Judge();
        EXPECT_EQ(verdict, c.verdict) << c.appended;
        if (verdict == Verdict::Accepted) {
            ASSERT_EQ(part.PutInPlace(), 0u);
        }
        EXPECT_EQ(folder.Read(u"setup.exe"), c.target);
        EXPECT_EQ(folder.Read(u"setup.exe.part"), "<none>");
    }
}

TEST(PartFile, StopsAtTheExpectedSizeAndKeepsItsValidatorOnlyWithIt) {
    TestFolder folder;
    PartFile part;
    ASSERT_EQ(part.Bind(folder.path + u"setup.exe", Expect(3, u""), false), 0u);
    ASSERT_EQ(part.Prepare(0, nullptr), 0u);
    Validator validator;
    validator.kind = ValidatorKind::ETag;
    validator.value = u"\"v1\"";
    part.WriteValidator(validator);
    EXPECT_TRUE(part.ReadValidator().value == validator.value);
    ASSERT_EQ(part.Append("ab", 2), 0u);
    EXPECT_FALSE(part.WouldPassExpectedSize(1));
    EXPECT_TRUE(part.WouldPassExpectedSize(2));
    // Begun afresh: the validator of the old bytes goes with them.
    ASSERT_EQ(part.Prepare(0, nullptr), 0u);
    EXPECT_EQ(part.ReadValidator().kind, ValidatorKind::None);
    part.WriteValidator(validator);
    ASSERT_EQ(part.Append("abc", 3), 0u);
    ASSERT_EQ(part.Judge(), Verdict::Accepted);
    ASSERT_EQ(part.PutInPlace(), 0u);
    EXPECT_EQ(folder.Read(u"setup.exe.part.validator"), "<none>");
}

// After the rename the hold decides what stands: the very file written keeps
// the transfer's verdict only when it was written under the protected
// descriptor; anything else is judged from the hold, and a file put in its
// place that no digest can judge is rejected.
TEST(PartFile, HandOverJudgesWhatTheHoldFinds) {
    struct Case {
        bool protect;
        const char16_t* md5;
        const char* writtenLater;  // bytes written into the target in the gap (null: none)
        bool replaced;             // the target replaced by another file in the gap
        Verdict verdict;
    } cases[] = {
        {false, u"900150983cd24fb0d6963f7d28e17f72", nullptr, false, Verdict::Accepted},
        {false, u"900150983cd24fb0d6963f7d28e17f72", "xyz", false, Verdict::Md5Differs},
        {false, u"900150983cd24fb0d6963f7d28e17f72", "abc", true, Verdict::Accepted},
        {false, u"", nullptr, false, Verdict::Accepted},
        {false, u"", "abc", true, Verdict::Replaced},
        {true, u"", nullptr, false, Verdict::Accepted},
        {true, u"", "abc", true, Verdict::Replaced},
    };
    for (const Case& c : cases) {
        TestFolder folder;
        PartFile part;
        ASSERT_EQ(part.Bind(folder.path + u"setup.exe", Expect(0, c.md5), c.protect), 0u);
        ASSERT_EQ(part.Prepare(0, nullptr), 0u);
        ASSERT_EQ(part.Append("abc", 3), 0u);
        ASSERT_EQ(part.Judge(), Verdict::Accepted);
        ASSERT_EQ(part.PutInPlace(), 0u);
        if (c.replaced) {
            // Moved away rather than deleted: a file system may give a new
            // file the number of one just deleted.
            ASSERT_TRUE(MoveFileW((folder.path + u"setup.exe").wc(), (folder.path + u"old.exe").wc()));
            folder.Write(u"setup.exe", c.writtenLater);
        } else if (c.writtenLater) {
            folder.Write(u"setup.exe", c.writtenLater);
        }
        VerifiedFile hold;
        EXPECT_EQ(part.HandOver(&hold, nullptr), c.verdict) << c.protect << " " << (c.writtenLater ? c.writtenLater : "");
        EXPECT_EQ(hold.IsOpen(), c.verdict == Verdict::Accepted);
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <string>

#include <aclapi.h>
#include <sddl.h>

#include "platform/fileops_win.h"
#include "platform/path_rules.h"
#include "platform/process_token_win.h"
#include "platform/protected_folder_win.h"
#include "platform/unique_handle_win.h"
#include "platform/win_util.h"

namespace {

std::string Narrow(const WString& text) {
    std::string out;
    for (int i = 0; i < text.Length(); ++i) out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    return out;
}

bool WriteFile(const WString& path, const char* content) {
    HANDLE file = CreateFileW(AddLongPrefixForStorage(path).wc(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = ::WriteFile(file, content, static_cast<DWORD>(strlen(content)), &written, nullptr);
    CloseHandle(file);
    return ok != FALSE;
}

bool IsFolder(const WString& path) {
    DWORD attributes = GetFileAttributesW(AddLongPrefixForStorage(path).wc());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const WString& path) {
    return GetFileAttributesW(AddLongPrefixForStorage(path).wc()) != INVALID_FILE_ATTRIBUTES;
}

void SetReadOnly(const WString& path) {
    WString longPath = AddLongPrefixForStorage(path);
    SetFileAttributesW(longPath.wc(), GetFileAttributesW(longPath.wc()) | FILE_ATTRIBUTE_READONLY);
}

// A fresh folder in the temporary folder for each test, removed afterwards.
class FileOps : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = TempFolder() + Format(u"cv_fileops_%u_%u", static_cast<unsigned>(GetCurrentProcessId()),
                                      static_cast<unsigned>(GetTickCount()));
        ASSERT_TRUE(CreateDirectoryW(base_.wc(), nullptr)) << Narrow(base_);
    }
    void TearDown() override {
        DeleteTreeContents(base_);
        RemoveDirectoryLong(base_);
        EXPECT_FALSE(Exists(base_));
    }
    WString In(const char16_t* relative) const { return base_ + u"\\" + relative; }

    // A folder path below the base longer than 260 characters.
    WString DeepFolder(int levels) const {
        WString path = base_;
        for (int i = 0; i < levels; ++i) path += Format(u"\\level%02d_abcdefghijklmnopqrstuvwxyz0123456789", i);
        return path;
    }

    WString base_;
};

TEST_F(FileOps, FileInformationErrorCodes) {
    ASSERT_TRUE(WriteFile(In(u"data.bin"), "0123456789"));
    struct Case {
        WString path;
        DWORD expected;
    };
    const Case cases[] = {
        {WString(), ERROR_INVALID_PARAMETER},
        {WString(u"C"), ERROR_PATH_NOT_FOUND},
        {WString(u"relative\\data.bin"), ERROR_PATH_NOT_FOUND},
        {WString(u"data.bin"), ERROR_PATH_NOT_FOUND},
        {WString(u"\\rooted\\data.bin"), ERROR_PATH_NOT_FOUND},
        {In(u"missing.bin"), ERROR_FILE_NOT_FOUND},
        {In(u"data.bin"), 0},
    };
    for (const Case& c : cases) {
        FILETIME time = {};
        DWORD size = 0xFFFF;
        EXPECT_EQ(GetFileInformation(c.path, &time, &size), c.expected) << Narrow(c.path);
        if (c.expected == 0) {
            EXPECT_EQ(size, 10u);
            EXPECT_TRUE(time.dwLowDateTime || time.dwHighDateTime);
        }
        EXPECT_EQ(FileExists(c.path), c.expected == 0) << Narrow(c.path);
    }
}

TEST_F(FileOps, LongPathsAreCreatedListedAndRemoved) {
    WString deep = DeepFolder(8);
    ASSERT_GT(deep.Length(), 300);
    Array<WString> created;
    ASSERT_EQ(CreateDirectoryTree(deep + u"\\payload.txt", false, &created), 0u);
    ASSERT_EQ(created.Size(), 8);
    EXPECT_TRUE(created[7] == deep);
    for (int i = 0; i + 1 < created.Size(); ++i) EXPECT_TRUE(ParentFolder(created[i + 1]) == created[i]);
    EXPECT_TRUE(IsFolder(deep));
    EXPECT_FALSE(Exists(deep + u"\\payload.txt"));

    WString file = deep + u"\\payload.txt";
    ASSERT_TRUE(WriteFile(file, "hello"));
    DWORD size = 0;
    EXPECT_EQ(GetFileInformation(file, nullptr, &size), 0u);
    EXPECT_EQ(size, 5u);

    // The listing of a long folder: prefixed for the system, plain for us.
    FileFinder finder(deep + u"\\*.txt");
    ASSERT_TRUE(finder.Found());
    EXPECT_TRUE(finder.EntryPath() == file) << Narrow(finder.EntryPath());
    EXPECT_FALSE(finder.Next());

    // A second walk creates nothing and still answers 0.
    Array<WString> again;
    EXPECT_EQ(CreateDirectoryTree(deep + u"\\other.txt", false, &again), 0u);
    EXPECT_EQ(again.Size(), 0);
    EXPECT_EQ(CreateDirectoryTree(file, false, &again), 0u);  // the file itself exists

    EXPECT_FALSE(RemoveDirectoryLong(deep));  // not empty
    EXPECT_TRUE(DeleteFileLong(file));
    EXPECT_FALSE(DeleteFileLong(file));
    for (int i = created.Size() - 1; i >= 0; --i) EXPECT_TRUE(RemoveDirectoryLong(created[i])) << i;
    EXPECT_FALSE(Exists(created[0]));
}

TEST_F(FileOps, CreateDirectoryTreeFolderFlagAndSeparators) {
    struct Case {
        const char16_t* path;
        bool lastIsFolder;
        int createdCount;
        const char16_t* mustExist;
        const char16_t* mustNotExist;
    };
    const Case cases[] = {
        {u"x\\y\\file.txt", false, 2, u"x\\y", u"x\\y\\file.txt"},
        {u"p\\q", true, 2, u"p\\q", nullptr},
        {u"m\\\\n\\", true, 2, u"m\\n", nullptr},
        {u"x\\y\\z\\", false, 1, u"x\\y\\z", nullptr},  // x and y are there already
        {u"single.txt", false, 0, nullptr, u"single.txt"},
    };
    for (const Case& c : cases) {
        Array<WString> created;
        EXPECT_EQ(CreateDirectoryTree(In(c.path), c.lastIsFolder, &created), 0u) << Narrow(WString(c.path));
        EXPECT_EQ(created.Size(), c.createdCount) << Narrow(WString(c.path));
        if (c.mustExist) {
            EXPECT_TRUE(IsFolder(In(c.mustExist))) << Narrow(WString(c.path));
        }
        if (c.mustNotExist) {
            EXPECT_FALSE(Exists(In(c.mustNotExist))) << Narrow(WString(c.path));
        }
    }
    // Without a list the folders are still created.
    EXPECT_EQ(CreateDirectoryTree(In(u"nolist\\a"), true), 0u);
    EXPECT_TRUE(IsFolder(In(u"nolist\\a")));
}

TEST_F(FileOps, CreateDirectoryTreeFailures) {
    ASSERT_EQ(CreateDirectoryTree(In(u"made\\empty_before"), true), 0u);
    ASSERT_TRUE(WriteFile(In(u"made\\file.txt"), "x"));
    struct Case {
        const char16_t* path;
        int createdCount;                // folders left in the list
        const char16_t* mustExist;       // relative to the base
        const char16_t* mustNotExist;
    };
    const Case cases[] = {
        // A file stands where a folder must go: nothing was created, nothing removed.
        {u"made\\file.txt\\inner\\leaf", 0, u"made\\file.txt", u"made\\file.txt\\inner"},
        // The level created just before the failing one is taken back; the
        // levels above it stay and remain listed.
        {u"made\\new_a\\new_b\\bad<name>\\leaf", 1, u"made\\new_a", u"made\\new_a\\new_b"},
        // A folder that was there before the call stays, although it is empty.
        {u"made\\empty_before\\bad|name", 0, u"made\\empty_before", nullptr},
    };
    for (const Case& c : cases) {
        Array<WString> created;
        DWORD error = CreateDirectoryTree(In(c.path), true, &created);
        EXPECT_NE(error, 0u) << Narrow(WString(c.path));
        EXPECT_NE(error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
        EXPECT_EQ(created.Size(), c.createdCount) << Narrow(WString(c.path));
        for (const WString& folder : created) EXPECT_TRUE(IsFolder(folder)) << Narrow(folder);
        if (c.mustExist) {
            EXPECT_TRUE(Exists(In(c.mustExist))) << Narrow(WString(c.path));
        }
        if (c.mustNotExist) {
            EXPECT_FALSE(Exists(In(c.mustNotExist))) << Narrow(WString(c.path));
        }
    }
}

TEST(FileOpsRoot, FirstLevelBelowTheRootIsNotTakenBack) {
    WString top = Format(u"C:\\cv_top_%u", static_cast<unsigned>(GetCurrentProcessId()));
    Array<WString> created;
    EXPECT_NE(CreateDirectoryTree(top + u"\\bad<name>", true, &created), 0u);
    ASSERT_EQ(created.Size(), 1);
    EXPECT_TRUE(created[0] == top);
    EXPECT_TRUE(IsFolder(top));
    EXPECT_TRUE(RemoveDirectoryLong(top));
}

TEST_F(FileOps, DeleteTreeContentsRemovesReadOnlyEntries) {
    WString deep = DeepFolder(6);
    ASSERT_EQ(CreateDirectoryTree(deep, true), 0u);
    ASSERT_TRUE(WriteFile(deep + u"\\deep.txt", "x"));
    SetReadOnly(deep + u"\\deep.txt");
    ASSERT_EQ(CreateDirectoryTree(In(u"ro\\inner"), true), 0u);
    ASSERT_TRUE(WriteFile(In(u"ro\\inner\\locked.txt"), "x"));
    SetReadOnly(In(u"ro\\inner\\locked.txt"));
    SetReadOnly(In(u"ro\\inner"));
    SetReadOnly(In(u"ro"));
    ASSERT_TRUE(WriteFile(In(u"top.txt"), "x"));
    SetReadOnly(In(u"top.txt"));

    DeleteTreeContents(base_);
    EXPECT_TRUE(IsFolder(base_));
    FileFinder finder(base_ + u"\\*");
    int entries = 0;
    for (; finder.Found(); finder.Next())
        if (!finder.IsDots()) ++entries;
    EXPECT_EQ(entries, 0);
}

TEST_F(FileOps, DeleteTreeContentsDoesNotFollowLinks) {
    typedef BOOLEAN(WINAPI * CreateLinkFn)(LPCWSTR, LPCWSTR, DWORD);
    CreateLinkFn createLink = reinterpret_cast<CreateLinkFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateSymbolicLinkW")));
    ASSERT_EQ(CreateDirectoryTree(In(u"outside"), true), 0u);
    ASSERT_TRUE(WriteFile(In(u"outside\\keep.txt"), "x"));
    ASSERT_EQ(CreateDirectoryTree(In(u"tree"), true), 0u);
    if (!createLink || !createLink(In(u"tree\\link").wc(), In(u"outside").wc(), 1 /* directory */))
        GTEST_SKIP() << "directory links are not available here";
    // The link leads to the outside file, so a walk that followed it would delete it.
    if (!FileFinder(In(u"tree\\link\\keep.txt")).Found()) GTEST_SKIP() << "directory links are not followed here";
    {
        FileFinder link(In(u"tree\\link"));
        ASSERT_TRUE(link.Found());
        EXPECT_TRUE(link.Data().dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) << std::hex << link.Data().dwFileAttributes;
    }
    DeleteTreeContents(In(u"tree"));
    EXPECT_FALSE(Exists(In(u"tree\\link")));
    EXPECT_TRUE(Exists(In(u"outside\\keep.txt")));
}

TEST_F(FileOps, FileFinderEntries) {
    ASSERT_TRUE(WriteFile(In(u"a.txt"), "x"));
    ASSERT_EQ(CreateDirectoryTree(In(u"sub"), true), 0u);
    int files = 0, folders = 0, dots = 0;
    for (FileFinder finder(In(u"*")); finder.Found(); finder.Next()) {
        if (finder.IsDots()) {
            ++dots;
            continue;
        }
        EXPECT_TRUE(ParentFolder(finder.EntryPath()) == base_);
        (finder.IsDirectory() ? folders : files)++;
    }
    EXPECT_EQ(files, 1);
    EXPECT_EQ(folders, 1);
    EXPECT_EQ(dots, 2);

    // A relative pattern gives full entry paths.
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(base_.wc()));
    {
        FileFinder relative(WString(u"a.txt"));
        ASSERT_TRUE(relative.Found());
        EXPECT_TRUE(relative.EntryPath().EqualsNoCase(In(u"a.txt"))) << Narrow(relative.EntryPath());
    }
    SetCurrentDirectoryW(saved);

    // A pattern beyond the longest path the system takes fails at once.
    WString huge = base_;
    while (huge.Length() < 32767) huge.Append(u'x');
    FileFinder tooLong(huge);
    EXPECT_FALSE(tooLong.Found());
    EXPECT_FALSE(FileFinder(In(u"nothing*")).Found());
}

TEST(FileOpsEnvironment, TempFolderAndScriptNames) {
    WString temp = TempFolder();
    ASSERT_FALSE(temp.IsEmpty());
    EXPECT_EQ(temp.Last(), u'\\');
    wchar_t expected[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, expected);
    EXPECT_TRUE(temp == expected);

    WString first = TempScriptName();
    WString second = TempScriptName();
    for (const WString* name : {&first, &second}) {
        EXPECT_TRUE(ParentFolder(*name) + u"\\" == temp) << Narrow(*name);
        EXPECT_TRUE(FileNameOfPath(*name).StartsWith(u"CV_")) << Narrow(*name);
        EXPECT_TRUE(name->EndsWith(u".ps1")) << Narrow(*name);
        EXPECT_EQ(name->FindLastChar(u'.'), name->Length() - 4);
        EXPECT_FALSE(Exists(*name));
    }
    EXPECT_FALSE(first == second);
}

TEST(FileOpsEnvironment, EnvironmentVariables) {
    WString longValue;
    for (int i = 0; i < 700; ++i) longValue.Append(static_cast<char16_t>(u'a' + i % 26));
    struct Case {
        const wchar_t* name;
        WString value;
        bool set;
    };
    const Case cases[] = {
        {L"CV_TEST_SHORT", WString(u"value with spaces"), true},
        {L"CV_TEST_LONG", longValue, true},
        {L"CV_TEST_UNSET", WString(), false},
    };
    for (const Case& c : cases) {
        SetEnvironmentVariableW(c.name, c.set ? c.value.wc() : nullptr);
        WString value(u"stale");
        EXPECT_EQ(GetEnvVariable(WString(c.name), &value), c.set);
        EXPECT_TRUE(value == c.value);
        SetEnvironmentVariableW(c.name, nullptr);
    }
}

// The SID of an access-allowed entry of the folder's access list, by index.
bool AceAllowsEveryone(PACL acl, ACCESS_MASK* mask) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) return false;
    bool found = false;
    for (DWORD i = 0; acl && i < acl->AceCount && !found; ++i) {
        void* ace = nullptr;
        if (!GetAce(acl, i, &ace)) continue;
        ACE_HEADER* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        ACCESS_ALLOWED_ACE* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (EqualSid(reinterpret_cast<PSID>(&allowed->SidStart), everyone)) {
            found = true;
            *mask = allowed->Mask;
        }
    }
    FreeSid(everyone);
    return found;
}

TEST_F(FileOps, SecurityDescriptorGrantsEveryone) {
    AccessListBuilder builder;
    ASSERT_TRUE(builder.GrantAccess(WString(u"Everyone"), false)) << builder.LastError();
    PSECURITY_DESCRIPTOR descriptor = builder.BuildSecurityDescriptor();
    ASSERT_NE(descriptor, nullptr) << builder.LastError();
    EXPECT_TRUE(IsValidSecurityDescriptor(descriptor));

    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
    ASSERT_TRUE(present);
    ACCESS_MASK mask = 0;
    ASSERT_TRUE(AceAllowsEveryone(acl, &mask));
    EXPECT_EQ(mask, static_cast<ACCESS_MASK>(GENERIC_ALL));

    // Applied to a new folder, the folder's own list carries the entry.
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    WString folder = In(u"logs");
    ASSERT_TRUE(CreateDirectoryW(folder.wc(), &attributes));
    // Wine does not keep a descriptor given at creation; setting it on the
    // folder afterwards is the same descriptor taking effect.
    ASSERT_TRUE(SetFileSecurityW(folder.wc(), DACL_SECURITY_INFORMATION, descriptor));
    DWORD needed = 0;
    GetFileSecurityW(folder.wc(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    ASSERT_GT(needed, 0u);
    std::string buffer(needed, '\0');
    PSECURITY_DESCRIPTOR applied = &buffer[0];
    ASSERT_TRUE(GetFileSecurityW(folder.wc(), DACL_SECURITY_INFORMATION, applied, needed, &needed));
    PACL appliedAcl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(applied, &present, &appliedAcl, &defaulted));
    ASSERT_TRUE(present);
    mask = 0;
    ASSERT_TRUE(AceAllowsEveryone(appliedAcl, &mask));
    // The system stores the generic right mapped to file rights (Wine keeps
    // only what the file's mode bits can say); without the entry Everyone
    // could not write.
    EXPECT_TRUE(mask == GENERIC_ALL || (mask & FILE_GENERIC_WRITE) == FILE_GENERIC_WRITE) << std::hex << mask;
}

// The entries of a protected folder's list: SYSTEM and Administrators may do
// anything, the process's user only read and run; every entry is inherited
// by what is made inside, and nothing of the parent's list is.
void ExpectProtectedEntries(PSECURITY_DESCRIPTOR descriptor) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
    ASSERT_TRUE(present && acl);
    HeapBlock user = ProcessUserSid();
    ASSERT_TRUE(user);
    struct Expected {
        const wchar_t* sid;  // null: the process's user
        ACCESS_MASK allowed;
        ACCESS_MASK denied;
    } expected[] = {
        {L"S-1-5-18", FILE_ALL_ACCESS, 0},
        {L"S-1-5-32-544", FILE_ALL_ACCESS, 0},
        {nullptr, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC},
    };
    int matched = 0;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(GetAce(acl, i, &ace));
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        ASSERT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << i;
        EXPECT_EQ(allowed->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                  OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        bool known = false;
        for (const Expected& e : expected) {
            PSID converted = nullptr;
            if (e.sid && !ConvertStringSidToSidW(e.sid, &converted)) continue;
            known = EqualSid(&allowed->SidStart, e.sid ? converted : user.Get()) != FALSE;
            if (converted) LocalFree(converted);
            if (!known) continue;
            ++matched;
            EXPECT_EQ(allowed->Mask & e.allowed, e.allowed) << i;
            EXPECT_EQ(allowed->Mask & e.denied, 0u) << std::hex << allowed->Mask;
            break;
        }
        EXPECT_TRUE(known) << "entry " << i << " names another account";
    }
    EXPECT_EQ(matched, 3);
}

TEST_F(FileOps, ProtectedFolder) {
    AccessListBuilder builder;
    PSECURITY_DESCRIPTOR built = nullptr;
    ASSERT_EQ(ProtectedFolder::BuildDescriptor(&builder, &built), 0u);
    ExpectProtectedEntries(built);
    // Owned by Administrators: an owner could always rewrite the list.
    PSID owner = nullptr;
    PSID administrators = nullptr;
    BOOL defaulted = TRUE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(built, &owner, &defaulted));
    ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-32-544", &administrators));
    EXPECT_TRUE(owner && EqualSid(owner, administrators));
    LocalFree(administrators);

    // Always a new folder, under a name of its own.
    ProtectedFolder folder;
    ASSERT_EQ(folder.Create(base_, WString(u"{PRODUCT}")), 0u);
    ASSERT_TRUE(folder.Path().StartsWith(base_ + u"\\{PRODUCT}."));
    ProtectedFolder second;
    ASSERT_EQ(second.Create(base_, WString(u"{PRODUCT}")), 0u);
    EXPECT_FALSE(second.Path() == folder.Path());

    // Read back from the folder where the file system keeps descriptors.
    // Wine (without stored descriptors) answers a list made from the Unix
    // mode bits instead, without SE_DACL_PROTECTED: there only the built
    // descriptor above can be shown.
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR applied = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(folder.Path().wc(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    &acl, nullptr, &applied),
              static_cast<DWORD>(ERROR_SUCCESS));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(applied, &control, &revision));
    if (control & SE_DACL_PROTECTED) ExpectProtectedEntries(applied);
    LocalFree(applied);

    const WString path = folder.Path();
    ASSERT_TRUE(WriteFile(path + u"setup.exe", "MZ"));
    // Files made in it are new, each under a name of its own, never shared.
    WString first, other;
    UniqueFile a = CreateFreshFile(path, u"URL", u".url", &first);
    UniqueFile b = CreateFreshFile(path, u"URL", u".url", &other);
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(first.StartsWith(path + u"URL") && first.EndsWith(u".url") && first.Length() == path.Length() + 15);
    EXPECT_FALSE(first == other);
    EXPECT_EQ(CreateFileW(first.wc(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    a.Reset();
    b.Reset();
    // A folder that is not there gives no file.
    WString none;
    EXPECT_FALSE(CreateFreshFile(path + u"missing", u"URL", u".url", &none));
    EXPECT_TRUE(none.IsEmpty());

    // Released, the folder stays for another to remove.
    ProtectedFolder kept;
    ASSERT_EQ(kept.Create(base_, WString(u"K")), 0u);
    const WString keptPath = kept.Release();
    EXPECT_FALSE(kept.IsCreated());
    kept.Remove();
    EXPECT_NE(GetFileAttributesW(keptPath.wc()), INVALID_FILE_ATTRIBUTES);

    folder.Remove();
    EXPECT_EQ(GetFileAttributesW(path.wc()), INVALID_FILE_ATTRIBUTES);
}

TEST(AccessList, AccountResolution) {
    struct Case {
        const char16_t* account;
        bool isSidText;
        bool ok;
        DWORD error;  // when !ok; 0: any error
    };
    const Case cases[] = {
        {u"Everyone", false, true, 0},
        {u"S-1-1-0", true, true, 0},
        {u"S-1-5-32-544", true, true, 0},
        {u"No Such Account 7f3a", false, false, ERROR_NONE_MAPPED},
        {u"not a sid", true, false, ERROR_INVALID_SID},
        {u"Everyone", true, false, 0},
    };
    for (const Case& c : cases) {
        AccessListBuilder builder;
        EXPECT_EQ(builder.GrantAccess(WString(c.account), c.isSidText), c.ok) << Narrow(WString(c.account));
        if (!c.ok) {
            EXPECT_NE(builder.LastError(), 0u) << Narrow(WString(c.account));
            if (c.error) {
                EXPECT_EQ(builder.LastError(), c.error) << Narrow(WString(c.account));
            }
        }
    }
}

TEST(AccessList, MergeAndRevoke) {
    AccessListBuilder first;
    ASSERT_TRUE(first.GrantAccess(WString(u"S-1-5-32-544"), true));
    PSECURITY_DESCRIPTOR base = first.BuildSecurityDescriptor();
    ASSERT_NE(base, nullptr);

    // Merged on top of an existing list, both entries are there.
    AccessListBuilder second;
    ASSERT_TRUE(second.GrantAccess(WString(u"Everyone"), false));
    PSECURITY_DESCRIPTOR merged = second.BuildSecurityDescriptor(base);
    ASSERT_NE(merged, nullptr);
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(merged, &present, &acl, &defaulted));
    ASSERT_NE(acl, nullptr);
    EXPECT_EQ(acl->AceCount, 2);
    ACCESS_MASK mask = 0;
    EXPECT_TRUE(AceAllowsEveryone(acl, &mask));

    // A revoking builder takes the entry out again.
    AccessListBuilder revoke;
    revoke.SetRevoke(true);
    ASSERT_TRUE(revoke.GrantAccess(WString(u"Everyone"), false));
    PSECURITY_DESCRIPTOR without = revoke.BuildSecurityDescriptor(merged);
    ASSERT_NE(without, nullptr);
    ASSERT_TRUE(GetSecurityDescriptorDacl(without, &present, &acl, &defaulted));
    EXPECT_FALSE(AceAllowsEveryone(acl, &mask));
    EXPECT_EQ(acl->AceCount, 1);

    // Inheritance flags travel into the entries.
    AccessListBuilder inherit;
    inherit.SetInheritance(SUB_CONTAINERS_AND_OBJECTS_INHERIT);
    ASSERT_TRUE(inherit.GrantAccess(WString(u"Everyone"), false));
    PSECURITY_DESCRIPTOR inherited = inherit.BuildSecurityDescriptor();
    ASSERT_NE(inherited, nullptr);
    ASSERT_TRUE(GetSecurityDescriptorDacl(inherited, &present, &acl, &defaulted));
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(acl, 0, &ace));
    EXPECT_EQ(static_cast<ACE_HEADER*>(ace)->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
              OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
}

// A process's exit code, and a failed wait or read that must not read as
// success (exit code 0).
TEST(ProcessExit, CodeOrFailure) {
    struct Case {
        const wchar_t* command;
        DWORD access;  // of the handle that is waited on
        DWORD expected;
    } cases[] = {
        {L"cmd.exe /c exit 7", PROCESS_ALL_ACCESS, 7},
        {L"cmd.exe /c exit 0", PROCESS_ALL_ACCESS, 0},
        // The wait succeeds, the code cannot be read.
        {L"cmd.exe /c exit 0", SYNCHRONIZE, ERROR_ACCESS_DENIED},
        // The wait itself fails.
        {L"cmd.exe /c exit 0", PROCESS_QUERY_LIMITED_INFORMATION, ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        wchar_t command[64];
        lstrcpynW(command, c.command, 64);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                                   &startup, &info));
        UniqueHandle process(info.hProcess), thread(info.hThread);
        HANDLE limited = nullptr;
        ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), process.Get(), GetCurrentProcess(), &limited, c.access,
                                    FALSE, 0));
        UniqueHandle waited(limited);
        EXPECT_EQ(WaitForExitCode(waited.Get()), c.expected) << c.command << " access " << c.access;
        WaitForSingleObject(process.Get(), INFINITE);
    }
}

// Owners treat both of the system's "no handle" values as empty, close a
// real handle once when they go, and keep the thread's last error across the
// close.
template <typename Owner>
void CheckOwner(const char* kind) {
    struct Row {
        const char* what;
        HANDLE (*make)();
        bool valid;
    } rows[] = {
        {"null", [] { return HANDLE(nullptr); }, false},
        {"INVALID_HANDLE_VALUE", [] { return INVALID_HANDLE_VALUE; }, false},
        {"an event", [] { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }, true},
    };
    for (const Row& row : rows) {
        HANDLE value = row.make();
        {
            Owner owner(value);
            EXPECT_EQ(owner.Valid(), row.valid) << kind << ": " << row.what;
            Owner moved(static_cast<Owner&&>(owner));
            EXPECT_FALSE(owner.Valid()) << kind << ": " << row.what << " after the move";
            EXPECT_EQ(moved.Valid(), row.valid) << kind << ": " << row.what << " moved";
            SetLastError(ERROR_FILE_NOT_FOUND);
        }
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << kind << ": " << row.what;
        DWORD flags = 0;
        if (row.valid) {
            EXPECT_FALSE(GetHandleInformation(value, &flags)) << kind << ": " << row.what << " still open";
        }
    }
}

TEST(HandleOwners, EmptyValuesCloseOnceAndLastError) {
    CheckOwner<UniqueHandle>("UniqueHandle");
    CheckOwner<UniqueFile>("UniqueFile");
}

}  // namespace

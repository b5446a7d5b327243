// Pieces of the log writer that do not need a running chainer: the fallback
// file name, the processor line and the access list of the shared folder.
#include "log/logger_win.h"

#include <gtest/gtest.h>
#include <sddl.h>
#include <string.h>
#include <windows.h>

#include <string>

#include "platform/fileops_win.h"
#include "test_values.h"

namespace {

TEST(LogFileName, ExtensionReplacedByLog) {
    struct Row {
        const char16_t* executable;
        const char* expected;
    } rows[] = {
        {u"C:\\pkg\\setup.exe", "setup.LOG"},
        {u"C:\\pkg\\my.setup.EXE", "my.setup.LOG"},
        {u"C:\\pkg\\setup", "setup.LOG"},
        {u"C:\\pkg.d\\setup", "setup.LOG"},
        {u"C:\\pkg\\setup.", "setup.LOG"},
        {u"setup.exe", "setup.LOG"},
    };
    for (const Row& row : rows) EXPECT_EQ(Printable(LogFileNameFor(row.executable)), row.expected) << Printable(row.executable);
}

TEST(ProcessorLine, BrandStringOrStandIn) {
    auto regsOf = [](const char* brand, unsigned int regs[12]) {
        char bytes[48] = {0};
        memcpy(bytes, brand, strlen(brand) < 48 ? strlen(brand) : 48);
        memcpy(regs, bytes, 48);
    };
    struct Row {
        unsigned int highest;
        const char* brand;
        const char* expected;
    } rows[] = {
        {0x80000004u, "Intel(R) Core(TM) i7-8650U CPU @ 1.90GHz", "Intel(R) Core(TM) i7-8650U CPU @ 1.90GHz"},
        {0x80000008u, "       Intel(R) Xeon(TM) CPU 3.00GHz", "       Intel(R) Xeon(TM) CPU 3.00GHz"},
        {0x80000003u, "AMD EPYC", "UnkownCPU"},
        {0x80000000u, "AMD EPYC", "UnkownCPU"},
        {0u, "", "UnkownCPU"},
        {0x80000004u, "", ""},
        // All 48 bytes used: no terminating zero inside the leaves.
        {0x80000004u, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuv",
         "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuv"},
    };
    for (const Row& row : rows) {
        unsigned int regs[12];
        regsOf(row.brand, regs);
        EXPECT_EQ(Printable(ProcessorBrandTextFrom(row.highest, regs)), row.expected) << row.brand;
    }
    EXPECT_FALSE(ProcessorBrandText().IsEmpty());
}

TEST(SharedLogFolder, OneEntryGrantingEveryoneFullControl) {
    AccessListBuilder access;
    PSECURITY_DESCRIPTOR descriptor = SharedLogFolderDescriptor(&access);
    ASSERT_NE(descriptor, nullptr);
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
    ASSERT_TRUE(present);
    ASSERT_NE(acl, nullptr);
    ASSERT_EQ(acl->AceCount, 1);
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(acl, 0, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE), 0);
    EXPECT_EQ(ace->Mask, static_cast<DWORD>(GENERIC_ALL));
    wchar_t* sid = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(&ace->SidStart, &sid));
    EXPECT_EQ(std::wstring(sid), L"S-1-1-0");
    LocalFree(sid);
}

}  // namespace

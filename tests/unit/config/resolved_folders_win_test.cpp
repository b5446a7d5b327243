#include <gtest/gtest.h>

#include <string>

#include "config/prerequisite.h"
#include "platform/fileops_win.h"

namespace {

std::string Narrow(const WString& text) {
    std::string out;
    for (int i = 0; i < text.Length(); ++i) out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    return out;
}

TEST(ResolvedFolders, ExpandedNormalisedOrDefault) {
    SetEnvironmentVariableW(L"CV_FOLDER_TEST", L"D:\\from env\\");
    SetEnvironmentVariableW(L"CV_FOLDER_UNSET", nullptr);
    const WString temp = TempFolder();
    ASSERT_FALSE(temp.IsEmpty());
    struct Case {
        const char16_t* configured;
        const char16_t* productCode;
        WString expected;
    };
    const Case cases[] = {
        {u"", u"{1234}", temp + u"{1234}\\"},
        {u"", u"", temp},
        {u"", u"{ends}\\", temp + u"{ends}\\"},
        {u"C:\\dl", u"{1234}", WString(u"C:\\dl\\")},
        {u"C:\\dl\\\\sub\\", u"{1234}", WString(u"C:\\dl\\sub\\")},
        {u"C:\\dl. \\x ", u"", WString(u"C:\\dl\\x\\")},
        {u"%CV_FOLDER_TEST%\\pkg", u"", WString(u"D:\\from env\\pkg\\")},
        {u"\\\\server\\share\\\\dl", u"", WString(u"\\\\server\\share\\dl\\")},
        // A folder that expands to nothing falls back to the default.
        {u"%CV_FOLDER_UNSET%", u"{5678}", temp + u"{5678}\\"},
    };
    for (const Case& c : cases) {
        PrerequisiteList list;
        list.options.DownloadFolder = WString(c.configured);
        list.options.ExtractionFolder = WString(c.configured);
        list.options.DefaultProdCode = WString(c.productCode);
        EXPECT_TRUE(list.ResolvedDownloadFolder() == c.expected)
            << Narrow(WString(c.configured)) << " -> " << Narrow(list.ResolvedDownloadFolder());
        EXPECT_TRUE(list.ResolvedExtractionFolder() == c.expected)
            << Narrow(WString(c.configured)) << " -> " << Narrow(list.ResolvedExtractionFolder());
    }
    SetEnvironmentVariableW(L"CV_FOLDER_TEST", nullptr);
}

TEST(ResolvedFolders, ComputedOncePerRun) {
    SetEnvironmentVariableW(L"CV_FOLDER_ONCE", L"C:\\first");
    PrerequisiteList list;
    list.options.DownloadFolder = WString(u"%CV_FOLDER_ONCE%\\dl");
    list.options.ExtractionFolder = WString(u"%CV_FOLDER_ONCE%\\x");
    EXPECT_TRUE(list.ResolvedDownloadFolder() == u"C:\\first\\dl\\");
    EXPECT_TRUE(list.ResolvedExtractionFolder() == u"C:\\first\\x\\");
    SetEnvironmentVariableW(L"CV_FOLDER_ONCE", L"C:\\second");
    list.options.DownloadFolder = WString(u"C:\\changed");
    EXPECT_TRUE(list.ResolvedDownloadFolder() == u"C:\\first\\dl\\");
    EXPECT_TRUE(list.ResolvedExtractionFolder() == u"C:\\first\\x\\");
    SetEnvironmentVariableW(L"CV_FOLDER_ONCE", nullptr);
}

}  // namespace

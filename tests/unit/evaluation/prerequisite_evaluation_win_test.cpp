// Evaluation of prerequisites against the real registry and files: actions,
// selection, re-evaluation, files already downloaded and the phase texts.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "config/prerequisite.h"
#include "evaluation/search_engine_win.h"

namespace {

const wchar_t kKey[] = L"Software\\CorvaneEvaluationTest";
const char16_t kPresent[] = u"HKCU\\Software\\CorvaneEvaluationTest";
const char16_t kLater[] = u"HKCU\\Software\\CorvaneEvaluationTest\\Later";

Prerequisite Make(const char16_t* name, int kind, int op, std::initializer_list<const char16_t*> keys,
                  const char16_t* options = u"") {
    Prerequisite p;
    p.Name = name;
    p.LocationKind = kind;
    p.Location = kind == kLocationUrl ? u"http://127.0.0.1/files/setup.exe" : u"setup.exe";
    p.Operator = op;
    p.Options = options;
    p.IgnoreOption = p.Options.Contains(u'i');
    for (const char16_t* key : keys) {
        SearchEntry e;
        e.SearchType = kSearchRegistryKeyExists;
        e.SearchString = key;
        p.Searches.Add(e);
    }
    return p;
}

class Evaluation : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"corvane-eval-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
        DeleteFileW((folder_ + L"\\setup.exe").c_str());
        RemoveDirectoryW((folder_ + L"\\setup.exe").c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    void WriteDownloaded(DWORD size) {
        HANDLE h = CreateFileW((folder_ + L"\\setup.exe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                               nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        std::string data(size, 'x');
        DWORD written = 0;
        WriteFile(h, data.data(), size, &written, nullptr);
        CloseHandle(h);
    }
    std::wstring folder_;
};

TEST_F(Evaluation, ActionsAndSelection) {
    struct Case {
        Prerequisite p;
        int action;
        bool selected;
        int getAction;
        int outcomes;
    };
    const Case cases[] = {
        {Make(u"none-and", kLocationSetupFile, 0, {}), kActionPresent, false, kActionNotSelected, 0},
        {Make(u"none-or", kLocationSetupFile, 1, {}), kActionInstall, true, kActionInstall, 0},
        {Make(u"present", kLocationUrl, 0, {kPresent}), kActionPresent, false, kActionNotSelected, 1},
        {Make(u"missing-url", kLocationUrl, 0, {kPresent, kLater, kPresent}), kActionDownload, true,
         kActionDownload, 2},
        {Make(u"missing-site", kLocationOpenSite, 1, {kLater}), kActionOpenSite, true, kActionOpenSite, 1},
        {Make(u"other-operator", kLocationSetupFile, 2, {kPresent, kPresent}), kActionInstall, true, kActionInstall,
         2},
        {Make(u"odd-kind", 9, 1, {kLater}), kActionInstall, true, kActionInstall, 1},
        // With "i" the searches are not run: missing by location kind.
        {Make(u"ignored", kLocationOpenSite, 0, {kPresent}, u"mi"), kActionOpenSite, true, kActionOpenSite, 0},
    };
    for (const Case& c : cases) {
        PrerequisiteList list;
        list.items.Add(c.p);
        list.EvaluateAll();
        EXPECT_EQ(list[0].Action, c.action) << "case " << (&c - cases);
        EXPECT_EQ(list[0].FoundAction, c.action) << "case " << (&c - cases);
        EXPECT_EQ(list[0].Selected, c.selected) << "case " << (&c - cases);
        EXPECT_EQ(list.GetAction(0), c.getAction) << "case " << (&c - cases);
        EXPECT_EQ(list[0].SearchResults.Size(), c.outcomes) << "case " << (&c - cases);
    }
}

TEST_F(Evaluation, ExcludedByLanguageStaysExcluded) {
    PrerequisiteList list;
    Prerequisite p = Make(u"excluded", kLocationSetupFile, 1, {kLater});
    p.LanguageList = u"1;";  // no system has the language 1
    list.items.Add(p);
    list.EvaluateAll();
    EXPECT_EQ(list[0].Action, kActionNotSupported);
    EXPECT_EQ(list[0].FoundAction, kActionNotEvaluated);
    EXPECT_EQ(list[0].SearchResults.Size(), 0);
    EXPECT_FALSE(list[0].Selected);
    EXPECT_EQ(list.GetAction(0), kActionNotSelected);
    list[0].LanguageList = u"";
    list.EvaluatePrerequisite(0, false);
    EXPECT_EQ(list[0].Action, kActionNotSupported);
}

TEST_F(Evaluation, ReevaluationAfterInstall) {
    PrerequisiteList list;
    list.items.Add(Make(u"A", kLocationSetupFile, 0, {kLater}));
    Prerequisite child = Make(u"B", kLocationSetupFile, 0, {kLater});
    child.ParentPrereq = u"A";
    list.items.Add(child);
    list.items.Add(Make(u"ignored", kLocationSetupFile, 0, {kLater}, u"i"));
    list.items.Add(Make(u"present", kLocationSetupFile, 0, {kPresent}));
    list.EvaluateAll();
    ASSERT_EQ(list.GetAction(0), kActionInstall);
    ASSERT_EQ(list.GetAction(1), kActionInstall);
    ASSERT_EQ(list.GetAction(2), kActionInstall);
    ASSERT_EQ(list.GetAction(3), kActionNotSelected);

    // The setup of A has put the key in place.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\CorvaneEvaluationTest\\Later", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    list.ReevaluateAll();
    EXPECT_EQ(list[0].Action, kActionPresent);
    EXPECT_EQ(list[0].FoundAction, kActionInstall);
    EXPECT_EQ(list.GetAction(0), kActionNotSelected);
    EXPECT_EQ(list.GetAction(1), kActionNotSelected);
    // An ignored prerequisite keeps its action through re-evaluation.
    EXPECT_EQ(list[2].Action, kActionInstall);
    EXPECT_EQ(list.GetAction(2), kActionInstall);
    EXPECT_EQ(list.GetAction(3), kActionNotSelected);
}

TEST_F(Evaluation, AlreadyDownloaded) {
    struct Case {
        const char16_t* location;
        const char16_t* folder;
        int32_t exactSize;
        int fileSize;  // -1: no file, -2: a folder of that name
        bool expected;
    };
    const Case cases[] = {
        {u"file:///C:/Setup/x.exe", u"", 0, -1, true},
        {u"FILE://server/share/x.exe", u"", 123, -1, true},
        {u"http://127.0.0.1/setup.exe", u"", 0, -1, false},
        {u"http://127.0.0.1/setup.exe", u"", 0, 10, true},
        {u"http://127.0.0.1/setup.exe", u"", 10, 10, true},
        {u"http://127.0.0.1/setup.exe", u"", 11, 10, false},
        {u"http://127.0.0.1/other.exe?x=1", u"?setup.exe", 10, 10, true},
        {u"http://127.0.0.1/setup.exe", u"?set*.exe", 0, 10, false},
        {u"http://127.0.0.1/setup.exe", u"", 0, -2, false},
    };
    for (const Case& c : cases) {
        if (c.fileSize >= 0) WriteDownloaded(static_cast<DWORD>(c.fileSize));
        if (c.fileSize == -2) CreateDirectoryW((folder_ + L"\\setup.exe").c_str(), nullptr);
        PrerequisiteList list;
        list.options.DownloadFolder = WString(folder_.c_str());
        Prerequisite p = Make(u"dl", kLocationUrl, 1, {});
        p.Location = c.location;
        p.Folder = c.folder;
        p.ExactSize = c.exactSize;
        list.items.Add(p);
        list.EvaluateAll();
        EXPECT_EQ(list[0].FileAtTarget, c.expected) << "case " << (&c - cases);
        EXPECT_EQ(list[0].AlreadyDownloaded, c.expected) << "case " << (&c - cases);
        EXPECT_EQ(list[0].Action, kActionDownload);
        EXPECT_EQ(list.GetAction(0), c.expected ? kActionDownloaded : kActionDownload) << "case " << (&c - cases);
        DeleteFileW((folder_ + L"\\setup.exe").c_str());
        RemoveDirectoryW((folder_ + L"\\setup.exe").c_str());
    }
}

TEST_F(Evaluation, PresentButSelectedParent) {
    // A present parent selected through its child runs its setup anyway.
    struct Case {
        int kind;
        int expected;
    };
    for (const Case& c : {Case{kLocationSetupFile, kActionInstall}, Case{kLocationUrl, kActionDownload},
                          Case{kLocationOpenSite, kActionOpenSite}}) {
        PrerequisiteList list;
        list.items.Add(Make(u"P", c.kind, 0, {kPresent}));
        list.EvaluateAll();
        list[0].Selected = true;
        EXPECT_EQ(list.GetAction(0), c.expected) << c.kind;
    }
}

TEST(PhaseTexts, FromStringTable) {
    PrerequisiteList list;
    EXPECT_TRUE(list.GetPhaseText(0) == u"Searching for prerequisites...");
    EXPECT_TRUE(list.GetPhaseText(1) == u"Downloading %s");
    EXPECT_TRUE(list.GetPhaseText(2) == u"Installing %s");
    EXPECT_TRUE(list.GetPhaseText(3) == u"Opening site of %s");
    EXPECT_TRUE(list.GetPhaseText(1) == u"Downloading %s");
    for (int phase : {4, 5, -1, 100}) EXPECT_TRUE(list.GetPhaseText(phase).IsEmpty()) << phase;
}

}  // namespace

// The engine applying plans, with stand-ins for the transfers and for the
// setups (no process is started): return-code meanings, the order of the
// phases, what is skipped after a stop, and the outcome every run answers.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "config/ini_document.h"
#include "config/interboot_store_win.h"
#include "config/package_locator.h"
#include "config/prerequisite.h"
#include "download/result_codes.h"
#include "engine/prerequisite_engine_win.h"
#include "platform/fileops_win.h"
#include "platform/references_win.h"

namespace {

const wchar_t kKey[] = L"Software\\CorvaneEngineTest";

std::string N(const WString& text) {
    std::string out;
    for (int i = 0; i < text.Length(); ++i) out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    return out;
}

void MarkInstalled(const std::string& name) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    const std::wstring value(name.begin(), name.end());
    RegSetValueExW(key, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1"), 4);
    RegCloseKey(key);
}

// Setups that answer scripted return codes, one after the other, and count
// as installed (their search then finds them) when they answer 0 or 3010.
class ScriptedSetups : public LaunchPlatform {
public:
    std::map<std::string, std::vector<uint32_t>> codes;  // by file name
    std::vector<std::string> launched;
    int restarts = 0;
    bool IsLocalSystem() override { return false; }
    bool IsElevated() override { return false; }
    bool RunThroughShell(const WString& file, const WString&, const WString&, uint32_t* code) override {
        const std::string name = N(file.Mid(file.FindLastChar(u'\\') + 1));
        launched.push_back(name);
        std::vector<uint32_t>& left = codes[name];
        *code = left.empty() ? 0 : left.front();
        if (left.size() > 1) left.erase(left.begin());
        if (*code == 0 || *code == 3010) MarkInstalled(name.substr(0, name.find('.')));
        return true;
    }
    bool RunDirectly(const WString&, const WString&, const WString&, uint32_t* code) override {
        *code = ERROR_NOT_SUPPORTED;
        return false;
    }
    bool RequestRestart(DWORD) override {
        ++restarts;
        return true;
    }
};

// Downloads that put scripted bytes in place, or fail with a code.
class ScriptedDownloads : public DownloadRunner {
public:
    std::map<std::string, std::string> bytes;   // by URL
    std::map<std::string, ResultCode> failures;  // by URL
    std::vector<std::string> tried;
    ResultCode Run(const PlannedDownload& download, const WString&, int, bool, TransferObserver*, VerifiedFile* hold,
                   Verdict* verdict) override {
        const std::string url = N(download.url);
        tried.push_back(url);
        if (failures.count(url)) return failures[url];
        UniqueFile file(CreateFileW(download.target.wc(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        WriteFile(file.Get(), bytes[url].data(), static_cast<DWORD>(bytes[url].size()), &written, nullptr);
        file.Reset();
        *verdict = hold->Open(download.target) ? hold->Judge(download.expected) : Verdict::Unreadable;
        return kResultOk;
    }
};

class NoCancel : public TransferObserver {
public:
    std::vector<std::string> errors;
    int finished = 0;
    void SetItemCount(uint64_t, int) override {}
    void OnTransferStarted(int, uint64_t, const WString&) override {}
    void OnFinished(int scope, int) override { finished += scope == kFinishedSequence; }
    void OnProgress(uint64_t) override {}
    bool IsCancelled() override { return false; }
    uint32_t OnError(const WString& context, uint32_t code, void*) override {
        errors.push_back(N(context) + "/" + std::to_string(code));
        return code;
    }
    void SetStatusText(const WString&, int, int) override {}
};

const char* ResultWord(WorkResult result) {
    switch (result) {
        case WorkResult::Done: return "done";
        case WorkResult::Failed: return "failed";
        case WorkResult::Skipped: return "skipped";
        case WorkResult::StillMissing: return "missing";
    }
    return "?";
}

const char* KindWord(WorkKind kind) {
    return kind == WorkKind::Download ? "get" : kind == WorkKind::OpenSite ? "site" : "run";
}

// One prerequisite per name: a SetupFile "<name>.exe" of the package, or a
// download of "<name>.exe" when the name starts with "dl", found present
// once its setup has run; keys holds its further INI keys.
struct App {
    const char* name;
    const char16_t* keys;
};

class Engine : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = WString(temp) + u"corvane-engine-" + WString().AppendUnsigned(GetCurrentProcessId()) + u"\\";
        CreateDirectoryW(folder_.wc(), nullptr);
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\CorvaneEngineTestStore");
        DeleteTreeContents(folder_);
        RemoveDirectoryW(folder_.wc());
    }

    // Runs the apps in the run's phase order; the outcome as "kind name
    // result code" lines, then the exit code.
    std::string Run(std::initializer_list<App> apps, bool silent = true) {
        WString ini = u"[GeneralOptions]\r\nOptions=q\r\nDownloadFolder=" + folder_ + u"\r\n[PREREQUISITES]\r\n";
        int n = 0;
        for (const App& app : apps) ini += Format(u"App%d=%s\r\n", ++n, WString::FromAscii(app.name));
        n = 0;
        for (const App& app : apps) {
            const WString name = WString::FromAscii(app.name);
            ini += Format(u"[App%d]\r\n", ++n);
            ini += name.StartsWith(u"dl") ? u"Url=http://127.0.0.1:9/" + name + u".exe\r\n" : u"SetupFile=" + name + u".exe\r\n";
            ini += u"SearchType1=7\r\nSearchString1=HKCU\\Software\\CorvaneEngineTest\\" + name + u"\r\n";
            for (const char16_t* k = app.keys; *k; ++k) ini += *k == u'|' ? WString(u"\r\n") : WString(k, 1);
            ini += u"\r\n";
        }
        IniDocument document;
        document.Parse(ini);
        PrerequisiteList list;
        list.Load(document, SystemReferences());
        list.EvaluateAll();
        PackageLocator locator;
        locator.Configure(folder_ + u"setup.exe", folder_);
        InterbootStore store("Software\\CorvaneEngineTestStore", true);
        PrerequisiteEngine engine(&store, &list, &locator, &setups, &downloads);
        NoCancel observer;
        const RunOutcome outcome = RunWork(engine, silent ? nullptr : &observer, !silent);
        std::string out;
        for (const WorkItemOutcome& item : outcome.items)
            out += std::string(KindWord(item.kind)) + " " + N(item.name) + " " + ResultWord(item.result) +
                   (item.code ? " " + std::to_string(item.code) : std::string()) + "\n";
        errors = observer.errors;
        finished = observer.finished;
        return out + "exit " + std::to_string(outcome.ExitCode());
    }

    WString folder_;
    ScriptedSetups setups;
    ScriptedDownloads downloads;
    std::vector<std::string> errors;
    int finished = 0;
};

// What return codes mean: the package's ReturnCodes for the codes it lists,
// and for every other code the rule of every package.
TEST_F(Engine, ReturnCodeMeanings) {
    struct Case {
        const char* name;
        std::vector<uint32_t> first;  // return codes of the first setup, launch after launch
        const char16_t* keys;
        const char* outcome;
        std::vector<std::string> launched;
    } cases[] = {
        // 3010 as reboot: the chain goes on, the run ends with -1 (no
        // re-evaluation), and no restart of the chainer's own without "r".
        {"reboot", {3010}, u"Options=m|ReturnCodes=3010:reboot",
         "run a done 3010\nrun b done\nexit -1", {"a.exe", "b.exe"}},
        // 1641 as rebooting: the setup restarts the machine; nothing more starts.
        {"rebooting", {1641}, u"Options=m|ReturnCodes=1641:rebooting",
         "run a done 1641\nrun b skipped\nexit -1", {"a.exe"}},
        // 1618 as retry: started again after a pause, then it went through.
        {"retry", {1618, 0}, u"ReturnCodes=1618:retry", "run a done\nrun b done\nexit 0", {"a.exe", "a.exe", "b.exe"}},
        // An unlisted 3010 fails as it always has: a mandatory one stops the
        // chain (and the re-evaluation may still find it installed).
        {"unlisted", {3010}, u"Options=m", "run a failed 3010\nrun b skipped\nexit 0", {"a.exe"}},
        // A listed failure of an optional item: the chain goes on.
        {"optional failure", {0}, u"ReturnCodes=0:failure", "run a failed\nrun b done\nexit 0", {"a.exe", "b.exe"}},
        // A success that left its prerequisite missing is told as such.
        {"still missing", {1}, u"Options=m|ReturnCodes=1:success", "run a missing 1\nrun b done\nexit 1",
         {"a.exe", "b.exe"}},
    };
    for (const Case& c : cases) {
        RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
        setups.codes.clear();
        setups.launched.clear();
        setups.codes["a.exe"] = c.first;
        EXPECT_EQ(Run({{"a", c.keys}, {"b", u""}}), c.outcome) << c.name;
        EXPECT_EQ(setups.launched, c.launched) << c.name;
        EXPECT_EQ(setups.restarts, 0) << c.name;
    }
}

// "reboot" with the r option: the restart procedure runs once the chain has
// ended, not before the next setup.
TEST_F(Engine, RebootCodeWithRestartOptionRestartsAfterTheChain) {
    setups.codes["a.exe"] = {3010};
    EXPECT_EQ(Run({{"a", u"Options=r|ReturnCodes=3010:reboot"}, {"b", u""}}), "run a done 3010\nrun b done\nexit -1");
    EXPECT_EQ(setups.launched, (std::vector<std::string>{"a.exe", "b.exe"}));
    EXPECT_EQ(setups.restarts, 1);
}

// The phases in their order; a silent run goes on after a stopped phase, the
// dialog's run stops there, and every item that never started is told.
TEST_F(Engine, PhasesAndWhatIsSkipped) {
    downloads.failures["http://127.0.0.1:9/dlmissing.exe"] = E_DL_NOT_FOUND;
    downloads.bytes["http://127.0.0.1:9/dlok.exe"] = "MZ";
    downloads.bytes["http://127.0.0.1:9/dlwrong.exe"] = "MZ";
    // An optional download that fails: the others go on; its setup is not run.
    EXPECT_EQ(Run({{"dlmissing", u""}, {"dlok", u""}, {"c", u""}}),
              "get dlmissing failed 3758096408\nget dlok done\nrun dlok done\nrun c done\nexit 0");
    // A rejected file stops the download phase, also for an optional item; a
    // silent run still installs what is in place, the dialog's run stops.
    RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    const App wrong[] = {{"dlwrong", u"MD5=00000000000000000000000000000000"}, {"dlok", u""}, {"c", u"Options=m"}};
    EXPECT_EQ(Run({wrong[0], wrong[1], wrong[2]}, true),
              "get dlwrong failed 3758096418\nget dlok skipped\nrun c done\nexit 0");
    RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    EXPECT_EQ(Run({wrong[0], wrong[1], wrong[2]}, false),
              "get dlwrong failed 3758096418\nget dlok skipped\nrun c skipped\nexit 1");
    EXPECT_EQ(errors, (std::vector<std::string>{"/3758096418"}));
    EXPECT_EQ(finished, 0);
    // Everything through: the dialog hears of the end after the re-evaluation.
    RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    EXPECT_EQ(Run({{"c", u"Options=m"}}, false), "run c done\nexit 0");
    EXPECT_EQ(finished, 1);
}

// A file of several places: each one that fails, or whose bytes are
// rejected, gives way to the next; only when every place failed does the
// download fail, with the last one's code.
TEST_F(Engine, MirrorsAreTriedInOrder) {
    const WString mirrors = u"Url2=http://127.0.0.1:9/m2/dlx.exe|Url3=http://127.0.0.1:9/m3/dlx.exe";
    struct Case {
        std::map<std::string, std::string> bytes;
        std::map<std::string, ResultCode> failures;
        const char* outcome;
    } cases[] = {
        {{{"http://127.0.0.1:9/m2/dlx.exe", "MZ"}}, {{"http://127.0.0.1:9/dlx.exe", E_DL_NOT_FOUND}},
         "get dlx done\nrun dlx done\nexit 0"},
        {{{"http://127.0.0.1:9/dlx.exe", "other"}, {"http://127.0.0.1:9/m2/dlx.exe", "MZ"}}, {},
         "get dlx done\nrun dlx done\nexit 0"},
        {{}, {{"http://127.0.0.1:9/dlx.exe", E_DL_NOT_FOUND}, {"http://127.0.0.1:9/m2/dlx.exe", E_DL_FORBIDDEN},
              {"http://127.0.0.1:9/m3/dlx.exe", E_DL_SERVER_UNAVAILABLE}},
         "get dlx failed 3758096410\nexit 1"},
    };
    for (const Case& c : cases) {
        RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
        downloads.bytes = c.bytes;
        downloads.failures = c.failures;
        downloads.tried.clear();
        const std::u16string keys = u"Options=m|MD5=ac6ad5d9b99757c3a878f2d275ace198|" +
                                    std::u16string(mirrors.c_str());
        EXPECT_EQ(Run({{"dlx", keys.c_str()}}), c.outcome);
    }
    EXPECT_EQ(downloads.tried, (std::vector<std::string>{"http://127.0.0.1:9/dlx.exe", "http://127.0.0.1:9/m2/dlx.exe",
                                                         "http://127.0.0.1:9/m3/dlx.exe"}));
}

}  // namespace

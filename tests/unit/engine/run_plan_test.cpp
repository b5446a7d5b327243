#include <gtest/gtest.h>

#include <string>

#include "config/ini_document.h"
#include "config/package_locator.h"
#include "config/prerequisite.h"
#include "engine/run_plan.h"
#include "platform/references.h"
#include "test_values.h"

namespace {

std::string N(const WString& text) {
    std::string out;
    for (int i = 0; i < text.Length(); ++i) out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    return out;
}

// Two folder properties, as a machine would resolve them.
class Folders : public ReferenceResolver {
public:
    bool FolderProperty(const WString& name, bool, WString* value) override {
        if (name == u"WindowsFolder") *value = u"C:\\Windows\\";
        else if (name == u"TempFolder") *value = u"C:\\T\\";
        else return false;
        return true;
    }
    WString EnvironmentVariable(const WString& name) override { return u"%" + name + u"%"; }
    WString RegistryValue(const WString& path, bool) override { return u"!" + path + u"!"; }
};

// The plan of an INI model whose searches found the prerequisites marked in
// found (one letter per prerequisite: 1 found, 0 missing, x excluded by its
// filters, and d missing with its file already at the target), evaluated as
// the chainer selects: what work needs, with parents and children.
RunPlan Plan(const char16_t* ini, const char* found, bool elevated = false, bool localSystem = false) {
    IniDocument document;
    document.Parse(Ini(ini));
    Folders folders;
    PrerequisiteList list;
    list.Load(document, folders);
    list.ComputeTargets(WString(u"C:\\Dl\\"));
    for (int i = 0; i < list.Count(); ++i) {
        Prerequisite& p = list[i];
        const char f = found[i];
        p.Action = f == '1' ? kActionPresent : f == 'x' ? kActionNotSupported
                   : p.LocationKind == kLocationUrl ? kActionDownload
                   : p.LocationKind == kLocationOpenSite ? kActionOpenSite : kActionInstall;
        p.FileAtTarget = f == 'd' || p.Location.StartsWithNoCase(u"file://");
        p.AlreadyDownloaded = p.Action == kActionDownload && p.FileAtTarget;
    }
    for (int i = 0; i < list.Count(); ++i) {
        const int32_t a = list[i].Action;
        list.SetSelected(i, a == kActionInstall || a == kActionDownload || a == kActionOpenSite);
    }
    PackageLocator locator;
    locator.Configure(u"C:\\Pkg\\setup.exe", u"C:\\Pkg\\");
    PlanFacts facts;
    facts.elevated = elevated || localSystem;
    facts.localSystem = localSystem;
    facts.systemFolder = u"C:\\Windows\\System32\\";
    facts.downloadFolder = u"C:\\Dl\\";
    facts.extractionFolder = u"C:\\Pkg\\";
    return BuildRunPlan(list, locator, facts, folders);
}

const char* Method(LaunchMethod m) {
    switch (m) {
        case LaunchMethod::Shell: return "shell";
        case LaunchMethod::Direct: return "direct";
        case LaunchMethod::Msiexec: return "msiexec";
        case LaunchMethod::Wusa: return "wusa";
        case LaunchMethod::Cmd: return "cmd";
        case LaunchMethod::Refused: return "refused";
    }
    return "?";
}

// A plan item in one line: what the run does with it.
std::string Line(const PlannedItem& p) {
    std::string out = N(p.name) + ": " + std::to_string(p.action) + (p.selected ? " selected" : "");
    if (p.downloads) {
        out += " get " + N(p.download.url) + " -> " + N(p.download.target);
        if (p.download.targetMoved) out += " (moved)";
        if (p.download.localFile) out += " (in place)";
        if (p.download.expected.size) out += " size " + std::to_string(p.download.expected.size);
    }
    if (p.launches) {
        out += std::string(" run ") + Method(p.launch.method) + " " + N(p.launch.file) + " [" + N(p.launch.arguments) + "]";
        if (p.launch.method != LaunchMethod::Shell && p.launch.method != LaunchMethod::Refused)
            out += " as " + N(p.launch.direct.program);
        if (p.launch.fromProtectedFolder) out += " protected";
        if (p.launch.reboot != RebootMode::kNone) out += " reboot " + std::to_string(static_cast<int>(p.launch.reboot));
        for (const ReturnCodeRule& rule : p.launch.codes.Rules())
            out += " " + std::to_string(rule.code) + "=" + N(WString(CodeMeaningWord(rule.meaning)));
    }
    if (p.opensSite) out += " site " + N(p.site);
    return out;
}

std::string Lines(const RunPlan& plan) {
    std::string out;
    for (const PlannedItem& p : plan.items) out += Line(p) + "\n";
    return out;
}

const char16_t kPackage[] =
    u"[GeneralOptions]|Options=q|[PREREQUISITES]|App1=Tools|App2=Runtime|App3=Other|App4=Site|App5=Local|"
    u"[App1]|SetupFile=tools.exe|NoUiCommandLine=/q [WindowsFolder]x|BasicUiCommandLine=/passive|Options=rR|"
    u"[App2]|Url=http://h/v/setup.exe|ExactSize=300|NoUiCommandLine=/q [TempFolder]log %TEMP%|ReturnCodes=3010:reboot, 1618:retry, bad|"
    u"Options=mr|[App3]|Url=http://h/w/setup.exe|NoUiCommandLine=/s|"
    u"[App4]|OpenSite=http://h/site|[App5]|Url=file:///C:/Share/redist.msi|NoUiCommandLine=/qn|";

// Whole plans of one package for machines that found different things, and
// for processes of different rights.
TEST(RunPlan, OnePackageOnSeveralMachines) {
    struct Case {
        const char* found;
        bool elevated;
        bool localSystem;
        const char* plan;
    } cases[] = {
        {"00000", false, false,
         "Tools: 1 selected run shell C:\\Pkg\\tools.exe [/q [WindowsFolder]x] reboot 2\n"
         "Runtime: 2 selected get http://h/v/setup.exe -> C:\\Dl\\setup.exe size 300 run shell C:\\Dl\\setup.exe "
         "[/q C:\\T\\log %TEMP%] reboot 1 3010=reboot 1618=retry\n"
         "Other: 2 selected get http://h/w/setup.exe -> C:\\Dl\\App3\\setup.exe (moved) run shell "
         "C:\\Dl\\App3\\setup.exe [/s]\n"
         "Site: 3 selected site http://h/site\n"
         "Local: 5 selected get file:///C:/Share/redist.msi -> C:\\Share\\redist.msi (in place) run shell "
         "C:\\Share\\redist.msi [/qn]\n"},
        // Elevated: programs and packages started directly, downloads from the
        // protected folder; a file URL stays where it lies.
        {"0d1x0", true, false,
         "Tools: 1 selected run direct C:\\Pkg\\tools.exe [/q [WindowsFolder]x] as C:\\Pkg\\tools.exe reboot 2\n"
         "Runtime: 5 selected get http://h/v/setup.exe -> C:\\Dl\\setup.exe size 300 run direct C:\\Dl\\setup.exe "
         "[/q C:\\T\\log %TEMP%] as C:\\Dl\\setup.exe protected reboot 1 3010=reboot 1618=retry\n"
         "Other: 7\n"
         "Site: 7\n"
         "Local: 5 selected get file:///C:/Share/redist.msi -> C:\\Share\\redist.msi (in place) run msiexec "
         "C:\\Share\\redist.msi [/qn] as C:\\Windows\\System32\\msiexec.exe\n"},
        // LocalSystem also resolves the folder references of a package's own
        // setup's arguments; environment references stay.
        {"01111", false, true,
         "Tools: 1 selected run direct C:\\Pkg\\tools.exe [/q C:\\Windows\\x] as C:\\Pkg\\tools.exe reboot 2\n"
         "Runtime: 7\nOther: 7\nSite: 7\nLocal: 7\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(Lines(Plan(kPackage, c.found, c.elevated, c.localSystem)), c.plan) << c.found;
}

// Why each prerequisite is or is not selected, with a parent and a child.
TEST(RunPlan, SelectionReasons) {
    const char16_t ini[] =
        u"[GeneralOptions]|Options=b|[PREREQUISITES]|App1=Parent|App2=Child|App3=Gone|"
        u"[App1]|SetupFile=p.exe|[App2]|SetupFile=c.exe|ParentPrereq=Parent|[App3]|SetupFile=g.exe|";
    struct Case {
        const char* found;
        SelectionReason reasons[3];
    } cases[] = {
        {"100", {SelectionReason::kPresent, SelectionReason::kMissing, SelectionReason::kMissing}},
        {"01x", {SelectionReason::kMissing, SelectionReason::kPresent, SelectionReason::kExcluded}},
        {"001", {SelectionReason::kMissing, SelectionReason::kMissing, SelectionReason::kPresent}},
    };
    for (const Case& c : cases) {
        const RunPlan plan = Plan(ini, c.found);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(plan.items[i].reason, c.reasons[i]) << c.found << " " << i;
    }
    // A present parent of a missing child is run anyway.
    IniDocument document;
    document.Parse(Ini(ini));
    EXPECT_EQ(Plan(ini, "100").mode, RunMode::kBasicUi);
    EXPECT_TRUE(Plan(ini, "100").AnyWork());
    EXPECT_FALSE(Plan(ini, "111").AnyWork());
}

// What return codes mean: the package's table for the codes it lists, the
// rule of every package (0 succeeds, anything else fails) for the others.
TEST(ReturnCodes, TableAndDefaultRule) {
    Array<ReturnCodeProblem> problems;
    const ReturnCodeTable table = ReturnCodeTable::Parse(
        u" 3010 : reboot ,1641:rebooting,0x652:retry, -1:success, 1603:failure, 0:failure, 3010:success, x:reboot, "
        u"5:Reboot, 7, 4294967296:success, 0x:retry,,",
        &problems);
    struct Case {
        uint32_t code;
        CodeMeaning meaning;
    } cases[] = {
        {3010, CodeMeaning::kReboot},  {1641, CodeMeaning::kRebooting}, {1618, CodeMeaning::kRetry},
        {0xFFFFFFFFu, CodeMeaning::kSuccess}, {1603, CodeMeaning::kFailure}, {0, CodeMeaning::kFailure},
        {5, CodeMeaning::kFailure}, {7, CodeMeaning::kFailure}, {2, CodeMeaning::kFailure},
    };
    for (const Case& c : cases) EXPECT_EQ(table.MeaningOf(c.code), c.meaning) << c.code;
    EXPECT_EQ(ReturnCodeTable().MeaningOf(0), CodeMeaning::kSuccess);
    EXPECT_EQ(ReturnCodeTable().MeaningOf(3010), CodeMeaning::kFailure);
    ASSERT_EQ(problems.Size(), 6);
    const ReturnCodeProblem::Kind kinds[] = {ReturnCodeProblem::kRepeated, ReturnCodeProblem::kBadCode,
                                             ReturnCodeProblem::kBadMeaning, ReturnCodeProblem::kNoColon,
                                             ReturnCodeProblem::kBadCode, ReturnCodeProblem::kBadCode};
    for (int i = 0; i < problems.Size(); ++i) EXPECT_EQ(problems[i].kind, kinds[i]) << i;
    uint32_t code = 0;
    EXPECT_TRUE(ParseReturnCode(u"-2147483648", &code) && code == 0x80000000u);
    EXPECT_FALSE(ParseReturnCode(u"-2147483649", &code));
    EXPECT_TRUE(ParseReturnCode(u"0xFFFFFFFF", &code) && code == 0xFFFFFFFFu);
    EXPECT_FALSE(ParseReturnCode(u"0x100000000", &code));
}

}  // namespace

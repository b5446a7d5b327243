// The chainer's own evaluation run on this machine for one configuration
// file: nothing is downloaded, installed, logged or shown, and the registry
// is only read.
#include <windows.h>

#include "check/diagnostics.h"
#include "check/package_folder.h"
#include "check/plan.h"
#include "config/file_url.h"
#include "config/ini_document.h"
#include "config/ini_path.h"
#include "config/ini_schema.h"
#include "config/package_locator.h"
#include "config/prerequisite.h"
#include "config/target_path.h"
#include "evaluation/os_filter.h"
#include "evaluation/search_engine_win.h"
#include "engine/run_plan.h"
#include "platform/os_info.h"
#include "platform/process_token_win.h"
#include "platform/references_win.h"
#include "platform/win_util.h"

namespace {

// The chainer lies beside its configuration file: [SETUPEXEDIR] in the
// locations means that folder here, not the checker's.
class PlanReferences : public ReferenceResolver {
public:
    explicit PlanReferences(const WString& folder) : folder_(folder) {}
    bool FolderProperty(const WString& name, bool use64BitView, WString* value) override {
        if (name == u"SETUPEXEDIR") {
            *value = folder_;
            return true;
        }
        return SystemReferences().FolderProperty(name, use64BitView, value);
    }
    WString EnvironmentVariable(const WString& name) override { return SystemReferences().EnvironmentVariable(name); }
    WString RegistryValue(const WString& path, bool use64BitView) override {
        return SystemReferences().RegistryValue(path, use64BitView);
    }

private:
    WString folder_;
};

// Only the folder properties: environment and registry references stay as
// they are written, as in the command lines the engine and launcher build.
class FolderPropertiesOnly : public ReferenceResolver {
public:
    explicit FolderPropertiesOnly(ReferenceResolver& folders) : folders_(folders) {}
    bool FolderProperty(const WString& name, bool use64BitView, WString* value) override {
        return folders_.FolderProperty(name, use64BitView, value);
    }
    WString EnvironmentVariable(const WString& name) override { return u"%" + name + u"%"; }
    WString RegistryValue(const WString& path, bool) override { return u"!" + path + u"!"; }

private:
    ReferenceResolver& folders_;
};

WString WithPackageFolder(const WString& text, const WString& folder) {
    if (!text.StartsWith(u"[SETUPEXEDIR]")) return text;
    return folder + text.Mid(13);
}

}  // namespace

bool EvaluatePlan(const WString& iniPath, PlanReport* report, std::string* error) {
    Array<uint8_t> bytes;
    if (!ReadWholeFile(iniPath, &bytes)) {
        *error = "cannot read " + Utf8(iniPath);
        return false;
    }
    // The path in Windows form, absolute, as the chainer would know it.
    wchar_t full[MAX_PATH * 4];
    DWORD n = GetFullPathNameW(reinterpret_cast<const wchar_t*>(iniPath.c_str()), MAX_PATH * 4, full, nullptr);
    WString fullPath = n && n < MAX_PATH * 4 ? WString(full) : iniPath;
    WString folder = ExecutableFolder(fullPath) + u"\\";

    IniDocument document;
    document.Parse(ConfigurationTextFromBytes(bytes.begin(), static_cast<size_t>(bytes.Size())));
    PlanReferences references(folder);
    FolderPropertiesOnly folders(references);
    PrerequisiteList list;
    list.Load(document, references);
    report->writtenDownloadFolder = list.options.DownloadFolder;
    report->writtenExtractionFolder = list.options.ExtractionFolder;
    list.options.ExtractionFolder = WithPackageFolder(list.options.ExtractionFolder, folder);
    list.options.DownloadFolder = WithPackageFolder(list.options.DownloadFolder, folder);

    PackageLocator locator;
    locator.Configure(folder + u"setup.exe", list.ResolvedExtractionFolder());
    SetSearchPackageLocator(&locator);
    list.EvaluateAll();
    SetSearchPackageLocator(nullptr);

    const OsInfo& os = GetOsInfo();
    report->configuration = fullPath;
    report->windows = Utf8(OsDetailedName()) + " / " + Utf8(OsGenericName()) + " (" + std::to_string(os.MajorVersion) +
                      "." + std::to_string(os.MinorVersion) + "." + std::to_string(os.BuildNumber) + ", " +
                      (os.Is64BitOs ? "64-bit: reads WinNT64Versions" : "32-bit: reads WinNTVersions") + "), language " +
                      std::to_string(GetSystemDefaultLangID());

    // The very plan the engine would apply, with this process's rights.
    PlanFacts facts;
    facts.localSystem = ProcessIsLocalSystem();
    facts.elevated = facts.localSystem || ProcessIsElevated();
    facts.systemFolder = SystemFolderPath();
    facts.downloadFolder = list.ResolvedDownloadFolder();
    facts.extractionFolder = list.ResolvedExtractionFolder();
    report->run = BuildRunPlan(list, locator, facts, folders);

    for (int i = 0; i < list.Count(); ++i) {
        const Prerequisite& p = list[i];
        PlanEvaluation e;
        e.osPasses = OsFilterPasses(p.WinNTVersions, p.WinNT64Versions);
        e.anyLanguage = p.LanguageList.IsEmpty();
        e.languagePasses = LanguageFilterPasses(p.LanguageList);
        e.op = p.Operator;
        const bool view64 = p.HasOption(u'x');
        for (int k = 0; k < p.Searches.Size(); ++k) {
            PlanSearch search;
            const SearchEntry& entry = p.Searches[k];
            search.type = entry.SearchType;
            search.string = entry.SearchString;
            const SearchTypeSchema* type = FindSearchType(entry.SearchType);
            if (type && (type->reads & kStringExpanded)) search.expanded = ExpandReferences(entry.SearchString, view64, references);
            search.ran = !p.IgnoreOption && k < p.SearchResults.Size();
            if (search.ran) {
                search.found = p.SearchResults[k].Found;
                search.values = p.SearchResults[k].FoundValues;
                search.content = p.SearchResults[k].Content;
            }
            e.searches.Add(search);
        }
        if (const IniSection* section = document.FindSection(NumberedKey(kAppKeyBase, i + 1)))
            for (const LocationKeySchema& location : kLocationKeys)
                if (const IniPair* pair = section->FindValue(WString(location.name))) {
                    e.writtenLocation = pair->value;
                    break;
                }
        const PlannedItem& planned = report->run.items[i];
        e.location = planned.action == kActionInstall ? locator.Locate(p.Location, nullptr) : p.Location;
        report->evaluations.Add(e);
    }
    return true;
}

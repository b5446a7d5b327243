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
#include "install/command_line.h"
#include "install/package_launcher_win.h"
#include "platform/os_info.h"
#include "platform/references_win.h"

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

WString WithoutLongPathPrefix(const WString& path) { return path.StartsWith(u"\\\\?\\") ? path.Mid(4) : path; }

// The launch of a setup at path with the mode's command line, as the engine
// prepares it (a downloaded setup's command line has its folder properties
// resolved) and the launcher makes it.
PlanLaunch LaunchOf(const WString& path, const WString& chosen, bool downloaded, const char16_t* key,
                    ReferenceResolver& folders) {
    PlanLaunch launch;
    launch.commandLineKey = WString(key);
    const WString commandLine = downloaded ? ExpandReferences(chosen, false, folders) : chosen;
    launch.shellFile = WithoutLongPathPrefix(path);
    launch.shellParameters = commandLine;
    launch.workingFolder = FolderOfFile(path);
    const WString arguments = ExpandReferences(commandLine, false, folders);
    if (HasMsiExtension(path)) {
        launch.directProgram = ExpandReferences(WString(u"[SystemFolder]msiexec.exe"), false, folders);
        launch.directCommandLine = MsiexecCommandLine(path, arguments);
    } else {
        launch.directProgram = path;
        launch.directCommandLine = ProgramCommandLine(path, arguments);
    }
    return launch;
}

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
    report->mode = list.IsSilentMode() ? "silent (q)" : list.IsBasicUiMode() ? "basic UI (b)" : "evaluation only (neither q nor b)";
    report->downloadFolder = list.ResolvedDownloadFolder();
    report->extractionFolder = list.ResolvedExtractionFolder();

    Array<bool> moved;
    const Array<WString> targets = DownloadTargets(list.items, list.ResolvedDownloadFolder(), &moved);
    const char16_t* key = LaunchCommandLineKey(list.options.Options);
    const bool installs = list.IsSilentMode() || list.IsBasicUiMode();
    for (int i = 0; i < list.Count(); ++i) {
        const Prerequisite& p = list[i];
        PlanItem item;
        item.name = p.Name;
        item.osPasses = OsFilterPasses(p.WinNTVersions, p.WinNT64Versions);
        item.anyLanguage = p.LanguageList.IsEmpty();
        item.languagePasses = LanguageFilterPasses(p.LanguageList);
        item.ignoreOption = p.IgnoreOption;
        item.mandatory = p.HasOption(u'm');
        item.parent = p.ParentPrereq;
        item.op = p.Operator;
        for (int k = 0; k < p.Searches.Size(); ++k) {
            PlanSearch search;
            search.type = p.Searches[k].SearchType;
            search.string = p.Searches[k].SearchString;
            search.ran = !p.IgnoreOption && k < p.SearchResults.Size();
            if (search.ran) {
                search.found = p.SearchResults[k].Found;
                search.values = p.SearchResults[k].FoundValues;
                search.content = p.SearchResults[k].Content;
            }
            item.searches.Add(search);
        }
        item.result = p.Action;
        item.action = list.GetAction(i);
        item.selected = p.Selected;
        if (const IniSection* section = document.FindSection(NumberedKey(kAppKeyBase, i + 1)))
            for (const LocationKeySchema& location : kLocationKeys)
                if (const IniPair* pair = section->FindValue(WString(location.name))) {
                    item.writtenLocation = pair->value;
                    break;
                }
        WString setup;
        if (item.action == kActionInstall) {
            item.location = locator.Locate(p.Location, nullptr);
            setup = item.location;
        } else {
            item.location = p.Location;
        }
        if (item.action == kActionDownload || item.action == kActionDownloaded) {
            item.target = IsLocalFileUrl(p.Location) ? LocalPathOfFileUrl(p.Location) : targets[i];
            item.targetMoved = moved[i];
            setup = item.target;
        }
        if (installs && key && !setup.IsEmpty()) {
            item.launches = true;
            item.launch = LaunchOf(setup, ChooseCommandLine(list.options.Options, p), item.action != kActionInstall, key, folders);
        }
        report->items.Add(item);
    }
    return true;
}

// The chainer's own evaluation run on this machine for one configuration
// file: nothing is downloaded, installed, logged or shown, and the registry
// is only read.
#include <windows.h>

#include "check/diagnostics.h"
#include "check/package_folder.h"
#include "check/plan.h"
#include "config/ini_document.h"
#include "config/prerequisite.h"
#include "config/ini_path.h"
#include "config/target_path.h"
#include "evaluation/os_filter.h"
#include "platform/os_info.h"
#include "platform/references_win.h"
#include "evaluation/search_engine_win.h"
#include "evaluation/search_rules.h"
#include "config/package_locator.h"

namespace {

const char* const kSearchTypeNames[] = {
    "FileVersion",        "RegistrySubkeys",      "RegistryValueVersion", "MsiProductVersion",
    "MsiUpgradeCodeVersions", "RegistryKeyExists", "RegistryKeyAbsent",   "RegistryValueExists",
    "RegistryValueAbsent", "RegistryValueContent", "ProgramExitCode",     "MsiComponentInstalled",
    "RegistryValueNames"};

const char* ActionText(int32_t action) {
    switch (action) {
        case kActionPresent: return "an acceptable version is present";
        case kActionInstall: return "install from the package";
        case kActionDownload: return "download";
        case kActionOpenSite: return "open the site";
        case kActionNotSupported: return "OS or language not supported";
        case kActionDownloaded: return "already downloaded: install";
        case kActionNotSelected: return "not selected";
        default: return "not evaluated";
    }
}

std::string U(const WString& text) { return Utf8(text); }

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

WString WithPackageFolder(const WString& text, const WString& folder) {
    if (!text.StartsWith(u"[SETUPEXEDIR]")) return text;
    return folder + text.Mid(13);
}

}  // namespace

bool PlanRun(const WString& iniPath, std::string* table) {
    Array<uint8_t> bytes;
    if (!ReadWholeFile(iniPath, &bytes)) {
        *table = "cannot read " + U(iniPath);
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
    PrerequisiteList list;
    list.Load(document, references);
    list.options.ExtractionFolder = WithPackageFolder(list.options.ExtractionFolder, folder);
    list.options.DownloadFolder = WithPackageFolder(list.options.DownloadFolder, folder);

    PackageLocator locator;
    locator.Configure(folder + u"setup.exe", list.ResolvedExtractionFolder());
    SetSearchPackageLocator(&locator);
    list.EvaluateAll();
    SetSearchPackageLocator(nullptr);

    const OsInfo& os = GetOsInfo();
    std::string out;
    out += "Configuration: " + U(fullPath) + "\n";
    out += "Windows: " + U(OsDetailedName()) + " / " + U(OsGenericName()) + " (" + std::to_string(os.MajorVersion) +
           "." + std::to_string(os.MinorVersion) + "." + std::to_string(os.BuildNumber) + ", " +
           (os.Is64BitOs ? "64-bit: reads WinNT64Versions" : "32-bit: reads WinNTVersions") + "), language " +
           std::to_string(GetSystemDefaultLangID()) + "\n";
    out += std::string("Mode: ") +
           (list.IsSilentMode() ? "silent (q)" : list.IsBasicUiMode() ? "basic UI (b)" : "evaluation only (neither q nor b)") +
           "\n";
    out += "Download folder: " + U(list.ResolvedDownloadFolder()) + "\n";
    out += "Extraction folder: " + U(list.ResolvedExtractionFolder()) + "\n";
    int work = 0;
    for (int i = 0; i < list.Count(); ++i) {
        Prerequisite& p = list[i];
        out += "\n" + std::to_string(i + 1) + ". " + U(p.Name) + "\n";
        const bool osPasses = OsFilterPasses(p.WinNTVersions, p.WinNT64Versions);
        const bool languagePasses = LanguageFilterPasses(p.LanguageList);
        out += std::string("   filter: ") + (osPasses ? "OS passes" : "OS excluded") + ", " +
               (p.LanguageList.IsEmpty() ? "any language" : languagePasses ? "language passes" : "language excluded") +
               "\n";
        if (p.Action != kActionNotSupported) {
            if (p.IgnoreOption) out += "   searches: not run (option i)\n";
            for (int k = 0; k < p.Searches.Size(); ++k) {
                const SearchEntry& s = p.Searches[k];
                std::string type = s.SearchType >= 0 && s.SearchType <= 12 ? kSearchTypeNames[s.SearchType] : "unknown";
                out += "   search " + std::to_string(k + 1) + ": type " + std::to_string(s.SearchType) + " " + type +
                       " " + U(s.SearchString) + "\n      ";
                if (p.IgnoreOption) {
                    out += "not run\n";
                    continue;
                }
                if (k >= p.SearchResults.Size()) {
                    out += "not run (the answer was already decided)\n";
                    continue;
                }
                const SearchOutcome& r = p.SearchResults[k];
                out += r.Found ? "found" : "not found";
                if (!r.FoundValues.IsEmpty()) {
                    out += "; values:";
                    for (const WString& v : r.FoundValues) out += " " + U(v);
                }
                if (s.SearchType == kSearchRegistryValueContent) out += "; content: " + U(r.Content);
                out += "\n";
            }
            if (!p.IgnoreOption)
                out += std::string("   searches: ") + (p.Action == kActionPresent ? "found" : "not found") + " (Operator " +
                       std::to_string(p.Operator) + (p.Operator == 0 ? ": all" : p.Operator == 1 ? ": any" : ": never") +
                       ")\n";
        }
        out += "   result: " + std::to_string(p.Action) + " " + ActionText(p.Action) + "\n";
        int32_t action = list.GetAction(i);
        out += "   action: " + std::to_string(action) + " " + ActionText(action);
        if (action == kActionInstall) out += ": " + U(locator.Locate(p.Location, nullptr));
        if (action == kActionDownload || action == kActionDownloaded)
            out += ": " + U(p.Location) + " -> " + U(DownloadTargetPath(list.ResolvedDownloadFolder(), p.Location, p.Folder));
        if (action == kActionOpenSite) out += ": " + U(p.Location);
        out += "\n   selected: " + std::string(p.Selected ? "yes" : "no") + "\n";
        work += p.Selected;
    }
    out += "\n" + std::to_string(list.Count()) + " prerequisites, " + std::to_string(work) + " selected for work\n";
    *table = out;
    return true;
}

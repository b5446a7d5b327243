// The table of --plan, from an evaluated report.
#include "check/diagnostics.h"
#include "check/plan.h"
#include "config/ini_schema.h"
#include "config/prerequisite.h"

namespace {

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

// "C:\x\ (written: [TempFolder]x)" when the written form differs.
std::string WithWritten(const WString& expanded, const WString& written) {
    std::string out = U(expanded);
    if (!written.IsEmpty() && written != expanded) out += " (written: " + U(written) + ")";
    return out;
}

void AppendSearches(const PlanItem& p, std::string* out) {
    if (p.ignoreOption) *out += "   searches: not run (option i)\n";
    for (int k = 0; k < p.searches.Size(); ++k) {
        const PlanSearch& s = p.searches[k];
        const SearchTypeSchema* type = FindSearchType(s.type);
        *out += "   search " + std::to_string(k + 1) + ": type " + std::to_string(s.type) + " " +
                (type ? type->name : "unknown") + " " + U(s.string) + "\n      ";
        if (p.ignoreOption) {
            *out += "not run\n";
            continue;
        }
        if (!s.ran) {
            *out += "not run (the answer was already decided)\n";
            continue;
        }
        *out += s.found ? "found" : "not found";
        if (!s.values.IsEmpty()) {
            *out += "; values:";
            for (const WString& v : s.values) *out += " " + U(v);
        }
        if (s.type == kSearchRegistryValueContent) *out += "; content: " + U(s.content);
        *out += "\n";
    }
    if (!p.ignoreOption)
        *out += std::string("   searches: ") + (p.result == kActionPresent ? "found" : "not found") + " (Operator " +
                std::to_string(p.op) + (p.op == 0 ? ": all" : p.op == 1 ? ": any" : ": never") + ")\n";
}

void AppendLaunch(const PlanLaunch& l, std::string* out) {
    *out += "   command line (" + U(l.commandLineKey) + "): " + (l.shellParameters.IsEmpty() ? "(none)" : U(l.shellParameters)) + "\n";
    *out += "   shell launch: " + U(l.shellFile) + "\n";
    *out += "   working folder: " + U(l.workingFolder) + "\n";
    *out += "   LocalSystem launch: " + U(l.directProgram) + " with " + U(l.directCommandLine) + "\n";
}

}  // namespace

std::string PlanTable(const PlanReport& report) {
    std::string out;
    out += "Configuration: " + U(report.configuration) + "\n";
    out += "Windows: " + report.windows + "\n";
    out += "Mode: " + report.mode + "\n";
    out += "Download folder: " + WithWritten(report.downloadFolder, report.writtenDownloadFolder) + "\n";
    out += "Extraction folder: " + WithWritten(report.extractionFolder, report.writtenExtractionFolder) + "\n";
    int work = 0;
    for (int i = 0; i < report.items.Size(); ++i) {
        const PlanItem& p = report.items[i];
        out += "\n" + std::to_string(i + 1) + ". " + U(p.name) + "\n";
        out += std::string("   mandatory: ") + (p.mandatory ? "yes (m)" : "no") +
               (p.ignoreOption ? ", exempt from the final check (i)" : "") + "; parent: " +
               (p.parent.IsEmpty() ? std::string("none") : U(p.parent)) + "\n";
        out += std::string("   filter: ") + (p.osPasses ? "OS passes" : "OS excluded") + ", " +
               (p.anyLanguage ? "any language" : p.languagePasses ? "language passes" : "language excluded") + "\n";
        if (p.result != kActionNotSupported) AppendSearches(p, &out);
        out += "   result: " + std::to_string(p.result) + " " + ActionText(p.result) + "\n";
        out += "   action: " + std::to_string(p.action) + " " + ActionText(p.action);
        if (p.action == kActionInstall) out += ": " + WithWritten(p.location, p.writtenLocation);
        if (p.action == kActionDownload || p.action == kActionDownloaded) {
            out += ": " + WithWritten(p.location, p.writtenLocation) + " -> " + U(p.target);
            if (p.targetMoved) out += " (moved: another prerequisite downloads to the same file)";
        }
        if (p.action == kActionOpenSite) out += ": " + WithWritten(p.location, p.writtenLocation);
        out += "\n";
        if (p.launches) AppendLaunch(p.launch, &out);
        out += "   selected: " + std::string(p.selected ? "yes" : "no") + "\n";
        work += p.selected;
    }
    out += "\n" + std::to_string(report.items.Size()) + " prerequisites, " + std::to_string(work) + " selected for work\n";
    return out;
}

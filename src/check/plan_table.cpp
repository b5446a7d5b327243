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

const char* ReasonText(SelectionReason reason) {
    switch (reason) {
        case SelectionReason::kMissing: return "its searches did not find it";
        case SelectionReason::kParentOfMissing: return "present, but a prerequisite that names it as ParentPrereq needs work";
        case SelectionReason::kPresent: return "an acceptable version is present";
        case SelectionReason::kExcluded: return "the OS or language filter excludes it";
        case SelectionReason::kDeselectedWithParent: return "missing, but its parent is present and took it out of the work";
        case SelectionReason::kNotEvaluated: return "not evaluated";
    }
    return "";
}

const char* MethodText(LaunchMethod method) {
    switch (method) {
        case LaunchMethod::Shell: return "through the shell (\"open\")";
        case LaunchMethod::Direct: return "directly";
        case LaunchMethod::Msiexec: return "through msiexec.exe";
        case LaunchMethod::Wusa: return "through wusa.exe";
        case LaunchMethod::Cmd: return "through cmd.exe";
        case LaunchMethod::Refused: return "refused: an elevated run starts no file of this type";
    }
    return "";
}

const char* RebootText(RebootMode mode) {
    switch (mode) {
        case RebootMode::kNone: return "none";
        case RebootMode::kAfterSuccess: return "restart after success (r)";
        case RebootMode::kIfPresentAfterSuccess: return "restart after success when then found present (rR)";
    }
    return "";
}

std::string U(const WString& text) { return Utf8(text); }

// "C:\x\ (written: [TempFolder]x)" when the written form differs.
std::string WithWritten(const WString& expanded, const WString& written) {
    std::string out = U(expanded);
    if (!written.IsEmpty() && written != expanded) out += " (written: " + U(written) + ")";
    return out;
}

std::string CodeText(uint32_t code) {
    return static_cast<int32_t>(code) < 0 ? std::to_string(static_cast<int32_t>(code)) : std::to_string(code);
}

void AppendSearches(const PlannedItem& p, const PlanEvaluation& e, std::string* out) {
    if (p.exempt) *out += "   searches: not run (option i)\n";
    for (int k = 0; k < e.searches.Size(); ++k) {
        const PlanSearch& s = e.searches[k];
        const SearchTypeSchema* type = FindSearchType(s.type);
        *out += "   search " + std::to_string(k + 1) + ": type " + std::to_string(s.type) + " " +
                (type ? type->name : "unknown") + " " + U(s.string) + "\n";
        if (!s.expanded.IsEmpty() && s.expanded != s.string) *out += "      reads: " + U(s.expanded) + "\n";
        *out += "      ";
        if (p.exempt) {
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
    if (!p.exempt)
        *out += std::string("   searches: ") + (p.evaluated == kActionPresent ? "found" : "not found") + " (Operator " +
                std::to_string(e.op) + (e.op == 0 ? ": all" : e.op == 1 ? ": any" : ": never") + ")" +
                (p.view64 ? "; 64-bit registry view, no file-system redirection (x)" : "") + "\n";
}

void AppendDownload(const PlannedDownload& d, std::string* out) {
    if (d.localFile) return;
    for (int k = 0; k < d.mirrors.Size(); ++k)
        *out += "   mirror " + std::to_string(k + 2) + ": " + U(d.mirrors[k]) + " (part file ..." +
                U(WString(u".part").AppendDecimal(k + 2)) + ")\n";
    *out += "   part file: " + U(d.partFile) + "; validator: " + U(d.validatorFile) + "\n";
    std::string checks;
    if (d.expected.size) checks += " ExactSize=" + std::to_string(d.expected.size);
    if (d.expected.WantsMd5()) checks += " MD5=" + U(d.expected.md5);
    if (d.expected.WantsSha256()) checks += " SHA256=" + U(d.expected.sha256);
    if (!d.expected.signerThumbprint.IsEmpty()) checks += " SignerThumbprint=" + U(d.expected.signerThumbprint);
    if (!d.expected.signerName.IsEmpty()) checks += " SignerName=" + U(d.expected.signerName);
    *out += "   checks:" + (checks.empty() ? std::string(" none") : checks) + "\n";
}

void AppendLaunch(const PlannedLaunch& l, std::string* out) {
    *out += "   command line (" + (l.commandLineKey ? U(WString(l.commandLineKey)) : std::string("none")) +
            "): " + (l.arguments.IsEmpty() ? "(none)" : U(l.arguments)) + "\n";
    *out += std::string("   launch: ") + MethodText(l.method);
    if (l.method == LaunchMethod::Shell)
        *out += ": " + U(l.file);
    else if (l.method != LaunchMethod::Refused)
        *out += ": " + U(l.direct.program) + " with " + U(l.direct.commandLine);
    if (l.fromProtectedFolder) *out += " (from the protected folder)";
    *out += "\n   working folder: " + U(l.workingFolder) + "\n";
    *out += std::string("   reboot: ") + RebootText(l.reboot) + "\n";
    *out += "   return codes:";
    for (const ReturnCodeRule& rule : l.codes.Rules())
        *out += " " + CodeText(rule.code) + " " + U(WString(CodeMeaningWord(rule.meaning))) + ",";
    *out += std::string(l.codes.IsEmpty() ? "" : " others:") + " 0 success, anything else failure\n";
    if (!l.retValPropName.IsEmpty()) *out += "   return code stored as: " + U(l.retValPropName) + "\n";
}

}  // namespace

std::string PlanTable(const PlanReport& report) {
    const RunPlan& run = report.run;
    std::string out;
    out += "Configuration: " + U(report.configuration) + "\n";
    out += "Windows: " + report.windows + "\n";
    out += std::string("Mode: ") +
           (run.mode == RunMode::kSilent ? "silent (q)" : run.mode == RunMode::kBasicUi ? "basic UI (b)"
                                                                                         : "evaluation only (neither q nor b)") +
           (run.facts.localSystem ? "; as LocalSystem" : run.facts.elevated ? "; elevated" : "; not elevated") + "\n";
    out += "Download folder: " + WithWritten(run.facts.downloadFolder, report.writtenDownloadFolder) + "\n";
    out += "Extraction folder: " + WithWritten(run.facts.extractionFolder, report.writtenExtractionFolder) + "\n";
    int work = 0;
    for (int i = 0; i < run.items.Size(); ++i) {
        const PlannedItem& p = run.items[i];
        const PlanEvaluation& e = report.evaluations[i];
        out += "\n" + std::to_string(i + 1) + ". " + U(p.name) + "\n";
        out += std::string("   mandatory: ") + (p.mandatory ? "yes (m)" : "no") +
               (p.exempt ? ", exempt from the final check (i)" : "") + "; parent: " +
               (p.parent.IsEmpty() ? std::string("none") : U(p.parent)) + "\n";
        out += std::string("   filter: ") + (e.osPasses ? "OS passes" : "OS excluded") + ", " +
               (e.anyLanguage ? "any language" : e.languagePasses ? "language passes" : "language excluded") + "\n";
        if (p.evaluated != kActionNotSupported) AppendSearches(p, e, &out);
        out += "   result: " + std::to_string(p.evaluated) + " " + ActionText(p.evaluated) + "\n";
        out += "   action: " + std::to_string(p.action) + " " + ActionText(p.action);
        if (p.action == kActionInstall) out += ": " + WithWritten(e.location, e.writtenLocation);
        if (p.downloads) {
            out += ": " + WithWritten(e.location, e.writtenLocation) + " -> " + U(p.download.target);
            if (p.download.targetMoved) out += " (moved: another prerequisite downloads to the same file)";
        }
        if (p.opensSite) out += ": " + WithWritten(e.location, e.writtenLocation);
        out += "\n";
        if (p.downloads) AppendDownload(p.download, &out);
        if (p.launches) AppendLaunch(p.launch, &out);
        out += "   selected: " + std::string(p.selected ? "yes" : "no") + " (" + ReasonText(p.reason) + ")\n";
        work += p.selected;
    }
    out += "\n" + std::to_string(run.items.Size()) + " prerequisites, " + std::to_string(work) + " selected for work\n";
    return out;
}

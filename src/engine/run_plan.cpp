#include "engine/run_plan.h"

#include "config/file_url.h"
#include "config/ini_schema.h"
#include "config/package_locator.h"
#include "config/prerequisite.h"
#include "platform/references.h"

namespace {

SelectionReason ReasonOf(const Prerequisite& p) {
    if (p.Action == kActionNotSupported) return SelectionReason::kExcluded;
    if (p.Action == kActionNotEvaluated) return SelectionReason::kNotEvaluated;
    if (p.Action == kActionPresent) return p.Selected ? SelectionReason::kParentOfMissing : SelectionReason::kPresent;
    return p.Selected ? SelectionReason::kMissing : SelectionReason::kDeselectedWithParent;
}

PlannedLaunch PlanLaunch(const RunPlan& plan, const Prerequisite& p, const WString& file, bool downloaded,
                         const WString& generalOptions, ReferenceResolver& folders) {
    PlannedLaunch launch;
    launch.file = file;
    launch.commandLineKey = LaunchCommandLineKey(generalOptions);
    const WString& chosen = ChooseCommandLine(generalOptions, p);
    // A downloaded setup's arguments have their folder references resolved
    // when the install is prepared; a package's own are passed as written,
    // except by a run as LocalSystem, which resolves them for its direct
    // launch.
    launch.arguments = downloaded ? ExpandReferences(chosen, false, folders) : chosen;
    if (plan.facts.localSystem) launch.arguments = ExpandReferences(launch.arguments, false, folders);
    launch.workingFolder = FolderOfFile(file);
    launch.method = ChooseLaunchMethod(file, plan.facts.elevated || plan.facts.localSystem);
    launch.direct = ComposeDirectLaunch(launch.method, plan.facts.systemFolder, file, launch.arguments);
    launch.reboot = RebootModeFromOptions(p.Options);
    launch.codes = ReturnCodeTable::Parse(p.ReturnCodes);
    launch.retValPropName = p.RetValPropName;
    return launch;
}

}  // namespace

bool RunPlan::AnyWork() const {
    for (const PlannedItem& item : items)
        if (item.evaluated == kActionInstall || item.evaluated == kActionDownload || item.evaluated == kActionOpenSite)
            return true;
    return false;
}

RunPlan BuildRunPlan(PrerequisiteList& list, const PackageLocator& locator, const PlanFacts& facts,
                     ReferenceResolver& folders) {
    RunPlan plan;
    plan.mode = list.IsSilentMode() ? RunMode::kSilent : list.IsBasicUiMode() ? RunMode::kBasicUi : RunMode::kEvaluateOnly;
    plan.keep = list.options.KeepFiles;
    plan.facts = facts;
    for (int i = 0; i < list.Count(); ++i) {
        const Prerequisite& p = list[i];
        PlannedItem item;
        item.index = i;
        item.name = p.Name;
        item.mandatory = p.HasOption(u'm');
        item.exempt = p.HasOption(u'i');
        item.view64 = p.HasOption(u'x');
        item.parent = p.ParentPrereq;
        item.evaluated = p.Action;
        item.action = list.GetAction(i);
        item.selected = p.Selected;
        item.reason = ReasonOf(p);
        switch (item.action) {
            case kActionDownload:
            case kActionDownloaded: {
                item.downloads = true;
                PlannedDownload& download = item.download;
                download.url = p.Location;
                if (!IsLocalFileUrl(p.Location)) download.mirrors = p.MirrorUrls;
                download.localFile = IsLocalFileUrl(p.Location);
                download.target = download.localFile ? LocalPathOfFileUrl(p.Location) : list.Target(i);
                if (!download.localFile) {
                    download.partFile = download.target + u".part";
                    download.validatorFile = download.partFile + u".validator";
                    download.targetMoved = list.TargetMoved(i);
                }
                download.expected = ExpectedFileOf(p);
                download.alreadyThere = item.action == kActionDownloaded;
                if (plan.mode != RunMode::kEvaluateOnly) {
                    item.launches = true;
                    item.launch = PlanLaunch(plan, p, download.target, true, list.options.Options, folders);
                    item.launch.fromProtectedFolder = facts.elevated && !download.localFile;
                }
                break;
            }
            case kActionInstall:
                if (plan.mode != RunMode::kEvaluateOnly) {
                    item.launches = true;
                    item.launch = PlanLaunch(plan, p, locator.Locate(p.Location, nullptr), false, list.options.Options,
                                             folders);
                }
                break;
            case kActionOpenSite:
                item.opensSite = true;
                item.site = p.Location;
                break;
            default:
                break;
        }
        plan.items.Add(item);
    }
    return plan;
}

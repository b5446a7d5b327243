// Evaluation of the prerequisites: filters, searches, the action of each
// prerequisite and its selection for install. Runs on the evaluation worker
// thread or the engine's thread; it touches no window.
#include <windows.h>

#include "base/resource_ids.h"
#include "config/prerequisite.h"
#include "config/target_path.h"
#include "evaluation/os_filter.h"
#include "evaluation/search_engine_win.h"
#include "evaluation/search_rules.h"
#include "log/log.h"
#include "platform/fileops_win.h"
#include "platform/path_rules.h"
#include "platform/win_util.h"

namespace {

bool NeedsWorkOrDownloaded(int32_t action) {
    return action == kActionInstall || action == kActionDownload || action == kActionOpenSite ||
           action == kActionDownloaded;
}

int32_t MissingAction(int32_t locationKind) {
    if (locationKind == kLocationUrl) return kActionDownload;
    if (locationKind == kLocationOpenSite) return kActionOpenSite;
    return kActionInstall;
}

void LogWithName(const char16_t* prefix, const WString& value) {
    if (LoggingEnabled) LogLine(WString(prefix) + value);
}

// Phase texts may be asked for from the engine's thread and the dialog's
// thread; the first request loads the string under this lock.
LazyLock g_phaseTextLock;

}  // namespace

void PrerequisiteList::EvaluatePrerequisite(int index, bool keepIgnored) {
    Prerequisite& prerequisite = items[index];
    // An excluded prerequisite stays excluded and is not logged again.
    if (prerequisite.Action == kActionNotSupported) return;

    if (!OsFilterPasses(prerequisite.WinNTVersions, prerequisite.WinNT64Versions) ||
        !LanguageFilterPasses(prerequisite.LanguageList)) {
        LogWithName(u"Wrong OS or Os language for:", prerequisite.Name);
        prerequisite.Action = kActionNotSupported;
        return;
    }

    bool use64BitView = prerequisite.HasOption(u'x');
    LogWithName(u"Searching for:", prerequisite.Name);
    if (keepIgnored && prerequisite.IgnoreOption) return;

    // With the "i" option the searches are skipped and the previous outcomes kept.
    bool found = false;
    if (!prerequisite.IgnoreOption)
        found = EvaluateSearches(prerequisite.Searches, prerequisite.Operator, use64BitView,
                                 &prerequisite.SearchResults);

    prerequisite.Action = found ? kActionPresent : MissingAction(prerequisite.LocationKind);
    if (prerequisite.FoundAction == kActionNotEvaluated) prerequisite.FoundAction = prerequisite.Action;
    LogWithName(u"Search result:", WString(ActionStatusText(prerequisite.Action)));
}

void PrerequisiteList::EvaluateAll() {
    if (!TargetsComputed()) ComputeTargets(ResolvedDownloadFolder());
    for (int i = 0; i < Count(); ++i) EvaluatePrerequisite(i, false);
    for (int i = 0; i < Count(); ++i) {
        RefreshFileAtTarget(i);
        SetSelected(i, NeedsWorkOrDownloaded(items[i].Action));
    }
}

void PrerequisiteList::ReevaluateAll() {
    for (int i = 0; i < Count(); ++i) {
        int32_t action = GetAction(i);
        if (action == kActionNotSelected || action == kActionNotSupported) continue;
        EvaluatePrerequisite(i, true);
        RefreshFileAtTarget(i);
        SetSelected(i, NeedsWorkOrDownloaded(items[i].Action));
    }
}

void PrerequisiteList::RefreshFileAtTarget(int index) {
    Prerequisite& prerequisite = items[index];
    bool there = false;
    if (prerequisite.LocationKind == kLocationUrl) {
        // A file URL names a local file: it is there to be installed.
        if (prerequisite.Location.StartsWithNoCase(u"file:///") || prerequisite.Location.StartsWithNoCase(u"file://")) {
            there = true;
        } else {
            if (!TargetsComputed()) ComputeTargets(ResolvedDownloadFolder());
            const WString& target = Target(index);
            const WString name = target.Mid(target.FindLastChar(u'\\') + 1);
            // No file can bear a wildcard in its name, and a folder is no setup file.
            if (!name.IsEmpty() && name.FindFirstOf(u"*?") < 0) {
                FileFinder finder(target);
                const uint64_t size =
                    (static_cast<uint64_t>(finder.Data().nFileSizeHigh) << 32) | finder.Data().nFileSizeLow;
                there = finder.Found() && !finder.IsDirectory() &&
                        (prerequisite.ExactSize == 0 || size == prerequisite.ExactSize);
            }
        }
    }
    prerequisite.FileAtTarget = there;
    if (prerequisite.Action == kActionDownload) prerequisite.AlreadyDownloaded = there;
}

WString PrerequisiteList::GetPhaseText(int phase) {
    static const UINT kPhaseStrings[4] = {IDS_SEARCHING, IDS_DOWNLOADING, IDS_INSTALLING, IDS_OPENING_SITE};
    if (phase < 0 || phase > 3) return WString();
    LockScope lock(g_phaseTextLock);
    if (!phaseTextLoaded_[phase]) {
        phaseTexts_[phase] = LoadResourceString(kPhaseStrings[phase]);
        phaseTextLoaded_[phase] = true;
    }
    return phaseTexts_[phase];
}

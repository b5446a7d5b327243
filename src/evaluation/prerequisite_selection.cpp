// Selection of prerequisites for install, with propagation to the children
// (ParentPrereq naming this one) and to the parent. Portable.
#include "config/prerequisite.h"
#include "config/target_path.h"
#include "log/log.h"
#include "platform/path_rules.h"

namespace {

bool NeedsWork(int32_t action) {
    return action == kActionInstall || action == kActionDownload || action == kActionOpenSite;
}

// Sets the flag and propagates it. Parents and children may form cycles;
// with the actions an evaluation assigns (0 to 4) the propagation ends after
// a few levels, but other action values (a derived action stored by mistake)
// can make a cycle flip two flags back and forth for ever. Beyond the depth limit the flag is still set but not propagated, so
// the recursion cannot exhaust the stack.
void Select(PrerequisiteList& list, int index, bool selected, int depth) {
    Array<Prerequisite>& items = list.items;
    if (items[index].Selected == selected) return;
    items[index].Selected = selected;
    if (LoggingEnabled) LogLine(WString(u"Prerequisite selected for install:") + items[index].Name);
    if (depth > 2 * list.Count() + 8) return;

    // The array is not resized during selection, but re-index on every use
    // rather than hold a reference across the recursive calls.
    for (int i = 0; i < list.Count(); ++i) {
        if (i == index) continue;
        const Prerequisite& child = items[i];
        if (child.Action == kActionNotSupported || child.ParentPrereq != items[index].Name) continue;
        Select(list, i, selected && NeedsWork(child.Action), depth + 1);
    }

    if (selected && !items[index].ParentPrereq.IsEmpty()) {
        // A ParentPrereq that names no prerequisite selects nothing.
        for (int i = 0; i < list.Count(); ++i) {
            if (items[i].Name != items[index].ParentPrereq) continue;
            if (items[i].Action != kActionPresent && items[i].Action != kActionNotSupported)
                Select(list, i, true, depth + 1);
            break;
        }
    }

    // A call through a cycle of parents and children may have changed the
    // flag; the requested value wins.
    items[index].Selected = selected;
}

}  // namespace

void PrerequisiteList::SetSelected(int index, bool selected) { Select(*this, index, selected, 0); }

int32_t PrerequisiteList::GetAction(int index) const {
    const Prerequisite& prerequisite = items[index];
    if (!prerequisite.Selected) return kActionNotSelected;
    if (prerequisite.Action != kActionPresent) {
        if (prerequisite.Action == kActionDownload && prerequisite.AlreadyDownloaded) return kActionDownloaded;
        return prerequisite.Action;
    }
    // Present, yet selected (a parent of something missing): its setup is run anyway.
    if (prerequisite.LocationKind == kLocationUrl) return prerequisite.FileAtTarget ? kActionDownloaded : kActionDownload;
    if (prerequisite.LocationKind == kLocationOpenSite) return kActionOpenSite;
    return kActionInstall;
}

void PrerequisiteList::ComputeTargets(const WString& downloadFolder) {
    targetMoved_.Clear();
    const Array<WString> targets = DownloadTargets(items, downloadFolder, &targetMoved_);
    targets_.Clear();
    for (const WString& target : targets) targets_.Add(target.IsEmpty() ? target : AddLongPrefixForStorage(target));
    targetsComputed_ = true;
}

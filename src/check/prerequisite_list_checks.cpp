// The section PREREQUISITES: how far the chainer's loader gets, and what the
// loaded prerequisites share or say about each other (download targets and
// their part files, setup files, names, parents).
#include "check/check_context.h"
#include "check/check_tables.h"
#include "config/file_url.h"
#include "config/ini_schema.h"
#include "config/target_path.h"

namespace {

WString AppKey(int n) { return NumberedKey(kAppKeyBase, n); }

const IniSection* List(const CheckContext& context) { return context.Section(WString(kPrerequisitesSection)); }

// Names of the prerequisites from App<from> on, as PREREQUISITES lists them.
WString NamesFrom(const CheckContext& context, int from) {
    Array<WString> names;
    const IniSection* list = List(context);
    if (!list) return WString();
    for (int n = from; n <= context.maxApp; ++n)
        if (const IniPair* pair = list->FindValue(AppKey(n))) names.Add(Quoted(pair->value));
    return Joined(names, u", ");
}

void ExplainEnd(CheckContext* context, const IniSection& list, int n) {
    DiagnosticList* out = context->out;
    const WString key = AppKey(n);
    const IniPair* listed = list.FindValue(key);
    if (!listed) {
        int next = n + 1;
        while (!list.FindValue(AppKey(next))) ++next;
        const IniPair* later = list.FindValue(AppKey(next));
        out->Error(later->line, "list-end", key + u" is missing from PREREQUISITES: the list ends there; never loaded: " +
                                                NamesFrom(*context, next));
        return;
    }
    const IniSection* section = context->Section(key);
    WString lost = u"; never loaded: " + NamesFrom(*context, n);
    if (!section) {
        out->Error(listed->line, "list-end",
                   u"there is no section [" + key + u"] for " + Quoted(listed->value) + u": the list ends here" + lost);
        return;
    }
    bool located = false;
    for (const LocationKeySchema& location : kLocationKeys) located = located || section->FindValue(WString(location.name));
    if (!located) {
        out->Error(section->Line(), "list-end", u"[" + key + u"] has no SetupFile, OpenSite or Url: the list ends here" + lost);
        return;
    }
    for (int k = 1;; ++k) {
        const IniPair* type = section->FindValue(NumberedKey(kSearchKeys[0].name, k));
        if (!type) break;
        if (!section->FindValue(NumberedKey(kSearchKeys[1].name, k))) {
            out->Error(type->line, "list-end",
                       u"SearchType" + Decimal(k) + u" has no SearchString" + Decimal(k) + u": the list ends here" + lost);
            return;
        }
    }
}

const IniPair* LocationPair(const CheckContext& context, int index) {
    const IniSection* section = context.Section(AppKey(index + 1));
    for (const LocationKeySchema& key : kLocationKeys)
        if (const IniPair* pair = CheckContext::Key(section, key.name)) return pair;
    return nullptr;
}

// Two prerequisites with one download target (or one's target the other's
// part file): the chainer moves the later one to the subfolder App<N>.
void CheckSharedTargets(CheckContext* context) {
    const Array<Prerequisite>& records = context->records;
    // The folder is the same for all; only the names below it matter here.
    const WString folder(u"C:\\Downloads\\");
    Array<bool> moved;
    Array<WString> targets = DownloadTargets(records, folder, &moved);
    for (int i = 0; i < records.Size(); ++i) {
        if (!moved[i]) continue;
        const Prerequisite& p = records[i];
        WString written = DownloadTargetPath(folder, p.Location, p.Folder);
        int first = 0;
        for (int j = 0; j < i; ++j) {
            WString other = DownloadTargetPath(folder, records[j].Location, records[j].Folder);
            if (!targets[j].IsEmpty() && (other.EqualsNoCase(written) || (other + u".part").EqualsNoCase(written) ||
                                          other.EqualsNoCase(written + u".part"))) {
                first = j + 1;
                break;
            }
        }
        const IniPair* location = LocationPair(*context, i);
        context->out->Warning(
            location ? location->line : 0, "shared-target",
            AppKey(i + 1) + u" downloads to " + Quoted(written.Mid(folder.Length())) +
                (first ? u", as " + AppKey(first) + u" does (its file or its .part file)" : WString(u", a target taken before")) +
                u": the chainer moves this download to " + Quoted(targets[i].Mid(folder.Length())) +
                u" in the download folder (name it in Folder to choose the place)");
    }
}

// The interboot store keeps the first code written under a name: a second
// prerequisite's code under the same RetValPropName is never recorded.
void CheckSharedResultNames(CheckContext* context) {
    const Array<Prerequisite>& records = context->records;
    for (int i = 0; i < records.Size(); ++i) {
        if (records[i].RetValPropName.IsEmpty() || records[i].LocationKind == kLocationOpenSite) continue;
        for (int j = 0; j < i; ++j) {
            if (records[j].LocationKind == kLocationOpenSite || !records[j].RetValPropName.EqualsNoCase(records[i].RetValPropName))
                continue;
            const IniPair* pair = CheckContext::Key(context->Section(AppKey(i + 1)), u"RetValPropName");
            context->out->Warning(pair ? pair->line : 0, "shared-target",
                                  u"RetValPropName " + Quoted(records[i].RetValPropName) + u" is also " + AppKey(j + 1) +
                                      u"'s: the interboot context keeps the first code stored under a name, so when both "
                                      u"run this one's return code is never recorded (give each its own name)");
            break;
        }
    }
}

void CheckSharedSetupFiles(CheckContext* context) {
    const Array<Prerequisite>& records = context->records;
    for (int i = 0; i < records.Size(); ++i) {
        if (records[i].LocationKind != kLocationSetupFile) continue;
        for (int j = 0; j < i; ++j) {
            if (records[j].LocationKind != kLocationSetupFile || !records[j].Location.EqualsNoCase(records[i].Location)) continue;
            const IniPair* location = LocationPair(*context, i);
            context->out->Note(location ? location->line : 0, "shared-setup-file",
                               AppKey(i + 1) + u" runs the same setup file as " + AppKey(j + 1) + u" (" +
                                   Quoted(records[i].Location) + u"): each selected one launches it with its own command line");
            break;
        }
    }
}

void CheckNamesAndParents(CheckContext* context) {
    DiagnosticList* out = context->out;
    const Array<Prerequisite>& records = context->records;
    Array<WString> names;
    for (const Prerequisite& other : records) names.Add(other.Name);
    for (int i = 0; i < records.Size(); ++i) {
        const Prerequisite& p = records[i];
        for (int j = 0; j < i; ++j) {
            if (records[j].Name != p.Name) continue;
            const IniPair* listed = List(*context)->FindValue(AppKey(i + 1));
            out->Warning(listed->line, "duplicate-name", AppKey(i + 1) + u" has the same name as " + AppKey(j + 1) + u" (" +
                                                              Quoted(p.Name) + u"): ParentPrereq finds only the first");
            break;
        }
        if (p.ParentPrereq.IsEmpty()) continue;
        const IniPair* parent = CheckContext::Key(context->Section(AppKey(i + 1)), u"ParentPrereq");
        int found = -1;
        for (int j = 0; j < records.Size() && found < 0; ++j)
            if (records[j].Name == p.ParentPrereq) found = j;
        if (found == i) {
            out->Warning(parent->line, "self-reference",
                         u"ParentPrereq names this prerequisite itself: it selects no other one");
        } else if (found < 0) {
            // The key of a prerequisite rather than its display name.
            WString base;
            const int n = NumberedKeyIndex(p.ParentPrereq, &base);
            const WString none(u"no parent is ever selected with this one");
            if (n > 0 && base == kAppKeyBase && n <= records.Size())
                out->Warning(parent->line, "parent",
                             u"ParentPrereq " + Quoted(p.ParentPrereq) + u" names no prerequisite: it takes a display "
                             u"name, not a key (" + p.ParentPrereq + u" is " + Quoted(records[n - 1].Name) + u"), so " +
                                 none + u"; write ParentPrereq=" + records[n - 1].Name);
            else
                out->Warning(parent->line, "parent",
                             u"ParentPrereq " + Quoted(p.ParentPrereq) + u" names no prerequisite" +
                                 DidYouMean(p.ParentPrereq, names) + u": " + none + u" (names are compared exactly)");
        } else if (records[found].ParentPrereq == p.Name) {
            out->Note(parent->line, "parent",
                      AppKey(i + 1) + u" and " + AppKey(found + 1) +
                          u" name each other as parent: selecting either selects the other when it is missing too");
        }
    }
}

}  // namespace

void CheckPrerequisiteListSection(CheckContext* context) {
    DiagnosticList* out = context->out;
    const IniSection* list = List(*context);
    if (!list) {
        for (const IniSection& section : context->doc.Sections()) {
            WString base;
            if (NumberedKeyIndex(section.Name(), &base) > 0 && base == kAppKeyBase) {
                out->Error(section.Line(), "list-end", WString(u"there is no section [PREREQUISITES]: no prerequisite is loaded"));
                break;
            }
        }
        return;
    }
    for (const IniPair& pair : list->Pairs()) {
        WString base;
        int n = NumberedKeyIndex(pair.key, &base);
        if (n > 0 && base == kAppKeyBase && n > context->maxApp) context->maxApp = n;
    }
    // The chainer's own loader decides how far the list goes.
    int loaded = 0;
    for (int n = 1; n <= context->maxApp + 1; ++n) {
        Prerequisite record;
        if (!LoadPrerequisiteDefinition(context->doc, n, &record)) break;
        loaded = n;
        context->records.Add(record);
    }
    if (loaded + 1 <= context->maxApp) ExplainEnd(context, *list, loaded + 1);
    for (int n = 1; n <= context->maxApp; ++n) {
        const IniSection* section = context->Section(AppKey(n));
        if (section && list->FindValue(AppKey(n))) CheckPrerequisiteSection(context, *section, n <= loaded);
    }
    CheckNamesAndParents(context);
    CheckSharedTargets(context);
    CheckSharedSetupFiles(context);
    CheckSharedResultNames(context);
}

// The section PREREQ_CHAINER: the log file and what the end of the run
// removes.
#include "check/check_context.h"
#include "config/ini_schema.h"
#include "core/cleanup_rules.h"
#include "platform/path_rules.h"

void CheckChainerSection(CheckContext* context) {
    DiagnosticList* out = context->out;
    const IniSection* section = context->Section(WString(kChainerSection));
    if (!section) return;
    out->Note(section->Line(), "deletes-ini",
              WString(u"with a PREREQ_CHAINER section the chainer deletes this INI file at the end of every run: test "
                      u"with corvane-check --plan or on a copy"));
    const IniPair* folders = CheckContext::Key(section, u"CleanupFolders");
    const WString root = folders ? CleanupRoot(folders->value) : WString();
    if (folders && !root.IsEmpty() && CanonicalCleanupPath(root).IsEmpty())
        out->Warning(folders->line, "cleanup",
                     u"CleanupFolders " + Quoted(folders->value) + u" is no absolute folder: nothing lies below it, so no "
                     u"listed file is deleted and no folder is removed");
    if (const IniPair* files = CheckContext::Key(section, u"CleanupFiles")) {
        // The chainer's own rules: without CleanupFolders every listed file
        // that exists is deleted, with it only those below it.
        for (const WString& entry : SplitCleanupFiles(files->value)) {
            const int separator = entry.FindFirstOf(u";|,");
            if (separator > 0 && IsAbsolutePath(entry) && IsAbsolutePath(entry.Mid(separator + 1).Trimmed()))
                out->Warning(files->line, "cleanup",
                             u"CleanupFiles reads " + Quoted(entry) + u" as one path: only the character U+0001 "
                             u"separates files, so no file of that name exists and nothing is deleted (write the list "
                             u"with corvane-check --write from a source that separates them with U+0001)");
            else if (CanonicalCleanupPath(entry).IsEmpty())
                out->Warning(files->line, "cleanup",
                             u"CleanupFiles entry " + Quoted(entry) +
                                 (IsAbsolutePath(entry) ? WString(u" is a path the chainer does not resolve (it climbs "
                                                                  u"above its root, or has a stream or a trailing dot)")
                                                        : WString(u" is relative")) +
                                 u": it is never deleted");
            else if (!root.IsEmpty() && !IsBelowCleanupRoot(entry, root))
                out->Warning(files->line, "cleanup",
                             u"CleanupFiles entry " + Quoted(entry) + u" is not inside CleanupFolders " +
                                 Quoted(folders->value) + u": it is never deleted");
        }
    }
    for (int i = 0; i < kChainerKeyCount; ++i)
        if (const IniPair* pair = CheckContext::Key(section, kChainerKeys[i].name)) CheckReferences(*pair, out, Expansion::kNone);
    for (const char16_t* key : {u"LogFile", u"CleanupScript"}) {
        const IniPair* pair = CheckContext::Key(section, key);
        if (pair && !pair->value.IsEmpty() && !IsAbsolutePath(pair->value))
            out->Warning(pair->line, "depends-on-current-folder",
                         pair->key + u" " + Quoted(pair->value) +
                             u" is relative: it is taken from the folder the chainer was started in" +
                             (WString(key) == u"LogFile" ? WString(u" (when that fails, the log goes to CORVANE_LOGS "
                                                                   u"in the shared application-data folder)")
                                                         : WString()));
    }
}

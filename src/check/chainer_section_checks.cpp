// The section PREREQ_CHAINER: the log file and what the end of the run
// removes.
#include "check/check_context.h"
#include "config/ini_schema.h"
#include "platform/path_rules.h"

void CheckChainerSection(CheckContext* context) {
    DiagnosticList* out = context->out;
    const IniSection* section = context->Section(WString(kChainerSection));
    if (!section) return;
    out->Note(section->Line(), "deletes-ini",
              WString(u"with a PREREQ_CHAINER section the chainer deletes this INI file at the end of every run: test "
                      u"with corvane-check --plan or on a copy"));
    const IniPair* folders = CheckContext::Key(section, u"CleanupFolders");
    if (folders && folders->value.EndsWith(u"\\"))
        out->Warning(folders->line, "cleanup",
                     WString(u"CleanupFolders ends with a backslash: the upward walk from the chainer's folder never meets it"));
    if (const IniPair* files = CheckContext::Key(section, u"CleanupFiles")) {
        for (const WString& entry : Entries(files->value, u'\x01')) {
            if (entry.IsEmpty()) continue;
            if (!IsAbsolutePath(entry))
                out->Warning(files->line, "cleanup", u"CleanupFiles entry " + Quoted(entry) + u" is relative: it is never deleted");
            else if (!folders || folders->value.IsEmpty() || !entry.StartsWith(folders->value))
                out->Warning(files->line, "cleanup",
                             u"CleanupFiles entry " + Quoted(entry) + u" is not inside CleanupFolders: it is never deleted");
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

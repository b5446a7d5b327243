// The section GeneralOptions: the run's mode, its folders and the keys that
// are carried without effect.
#include "check/check_context.h"
#include "config/ini_schema.h"

namespace {

bool AnyDownload(const CheckContext& context) {
    for (const Prerequisite& p : context.records)
        if (p.LocationKind == kLocationUrl && !p.Location.StartsWithNoCase(u"file://")) return true;
    return false;
}

void CheckFolder(CheckContext* context, const IniSection* section, const char16_t* key, const WString& consequence) {
    const IniPair* pair = CheckContext::Key(section, key);
    DiagnosticList* out = context->out;
    if (!pair) return;
    CheckReferences(*pair, out);
    if (DependsOnCurrentFolder(pair->value))
        out->Warning(pair->line, "depends-on-current-folder",
                     pair->key + u" " + Quoted(pair->value) + u" is relative: it means a folder below whatever folder "
                     u"the chainer was started in; " + consequence + u" (write an absolute folder, e.g. [TempFolder]name "
                     u"or [SETUPEXEDIR])");
}

}  // namespace

void CheckGeneralOptionsSection(CheckContext* context) {
    DiagnosticList* out = context->out;
    const IniSection* section = context->Section(WString(kGeneralOptionsSection));
    const GeneralOptions& general = context->general;
    const IniPair* options = CheckContext::Key(section, u"Options");
    const bool silent = general.Options.Contains(u'q'), basic = general.Options.Contains(u'b');
    int stray = 0;
    if (options)
        for (int i = 0; i < options->value.Length(); ++i) stray += !WString(u"qb ").Contains(options->value[i]);
    if (options && stray >= 3) {
        // A word ("silent", "quiet", "basic"): one message with what it reads as.
        WString instead = options->value.EqualsNoCase(u"silent") || options->value.EqualsNoCase(u"quiet") ? WString(u"q")
                          : options->value.EqualsNoCase(u"basic") ? WString(u"b") : WString(u"q or b");
        out->Add(options->line, silent || basic ? Severity::kWarning : Severity::kError, "evaluate-only",
                 u"Options=" + options->value + u" is read letter by letter: " +
                     (silent ? WString(u"its q makes the run silent")
                             : basic ? WString(u"its b makes it a basic-UI run")
                                     : WString(u"it holds neither q nor b, so a run only evaluates and installs nothing")) +
                     u"; the other letters mean nothing (write Options=" + instead + u")");
    } else {
        if (options) CheckOptionLetters(*options, u"qb", WString(u"only q (silent) and b (basic UI) count"), out);
        if (!silent && !basic)
            out->Note(CheckContext::LineOf(options, section), "evaluate-only",
                      WString(u"neither \"q\" nor \"b\" in Options: a run only evaluates and installs nothing"));
    }
    if (silent && basic)
        out->Note(options->line, "evaluate-only",
                  WString(u"Options with q and b: the run is silent (q wins: no window at all) and launches every setup "
                          u"with its BasicUiCommandLine, not NoUiCommandLine"));
    if (const IniPair* keep = CheckContext::Key(section, u"KeepFiles")) {
        if (KeepFilesCode(keep->value) == 0) {
            Array<WString> words;
            words.Add(u"complete");
            words.Add(u"minimum");
            words.Add(u"prereqs");
            out->Warning(keep->line, "value-read-differently",
                         u"KeepFiles " + Quoted(keep->value) +
                             u" is not complete, minimum or prereqs: it reads as 0 (downloads are deleted)" +
                             DidYouMean(keep->value, words));
        }
    }
    for (int i = 0; i < kGeneralOptionKeyCount; ++i) {
        const KeySchema<GeneralOptions>& key = kGeneralOptionKeys[i];
        const IniPair* pair = CheckContext::Key(section, key.name);
        if (!pair) continue;
        if (key.kind == ValueKind::kTrueFlag && !pair->value.EqualsNoCase(u"true") && !pair->value.EqualsNoCase(u"false"))
            out->Warning(pair->line, "value-read-differently", pair->key + u"=" + pair->value + u" is not \"true\": it reads as false");
        if (key.kind == ValueKind::kPresentFlag && (pair->value.EqualsNoCase(u"false") || pair->value == u"0"))
            out->Warning(pair->line, "value-read-differently",
                         pair->key + u"=" + pair->value + u" reads as true (any value that is not empty)");
        if (key.use == KeyUse::kCarried && !pair->value.IsEmpty())
            out->Note(pair->line, "carried-key", pair->key + u" is carried for the package: the chainer does not act on it");
    }
    CheckFolder(context, section, u"DownloadFolder",
                WString(u"every download then fails with E_DL_BAD_TARGET (-536870907)"));
    CheckFolder(context, section, u"ExtractionFolder",
                WString(u"the package's setup files and programs are looked for there"));
    if (general.DownloadFolder.IsEmpty() && AnyDownload(*context))
        out->Note(CheckContext::LineOf(nullptr, section), "depends-on-temp-folder",
                  general.DefaultProdCode.IsEmpty()
                      ? WString(u"DownloadFolder and DefaultProdCode are unset: downloads go straight into the user's "
                                u"temporary folder")
                      : u"DownloadFolder is unset: downloads go to the user's temporary folder plus " +
                            general.DefaultProdCode);
}

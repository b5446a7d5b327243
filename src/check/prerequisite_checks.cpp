// One prerequisite's section [App<N>]: its location, what each key does
// with that location and the run's mode, its values and its searches.
#include "check/check_context.h"
#include "check/check_tables.h"
#include "config/file_url.h"
#include "config/ini_schema.h"
#include "config/target_path.h"
#include "download/file_verdict.h"
#include "download/signer_rules.h"
#include "platform/path_rules.h"

namespace {

bool IsHex(const WString& text, int length) {
    if (text.Length() != length) return false;
    for (int i = 0; i < length; ++i)
        if (HexDigitValue(text[i]) < 0) return false;
    return true;
}

uint8_t LocationBit(int32_t kind) {
    return kind == kLocationSetupFile ? kUseSetupFile : kind == kLocationUrl ? kUseUrl : kUseOpenSite;
}

// Extensions the shell's "open" runs as a setup (or hands to the installer).
bool IsSetupFileName(const WString& name) {
    int dot = name.FindLastChar(u'.');
    if (dot < 0) return false;
    WString extension = name.Mid(dot + 1);
    for (const char16_t* known : {u"exe", u"msi", u"msu", u"msp", u"bat", u"cmd", u"com"})
        if (extension.EqualsNoCase(known)) return true;
    return false;
}

void CheckUrl(CheckContext* context, const IniSection& section, const IniPair& location, bool download) {
    DiagnosticList* out = context->out;
    const WString& url = location.value;
    int scheme = url.Find(u"://");
    if (scheme < 0) {
        if (!url.StartsWith(u"\\\\"))
            out->Warning(location.line, "value-read-differently",
                         location.key + u" " + Quoted(url) + u" has no scheme (http://, https://, ftp://, file://)");
    } else {
        WString name = url.Left(scheme);
        if (!name.EqualsNoCase(u"http") && !name.EqualsNoCase(u"https") && !name.EqualsNoCase(u"ftp") &&
            !name.EqualsNoCase(u"file"))
            out->Warning(location.line, "value-read-differently", u"URL scheme " + Quoted(name) + u" is not http, https, ftp or file");
    }
    CheckReferences(location, out, Expansion::kUrl);
    if (!download || IsLocalFileUrl(url)) return;
    WString name = FileNameFromUrl(url);
    const IniPair* folder = CheckContext::Key(&section, u"Folder");
    if (folder) {
        int q = folder->value.FindChar(u'?');
        if (q >= 0 && q + 1 < folder->value.Length()) {
            name = folder->value.Mid(q + 1);
            if (!IsSetupFileName(name))
                out->Warning(folder->line, "download-name",
                             u"the download is saved as " + Quoted(name) + u", which Windows does not run as a setup "
                             u"(the shell opens it with whatever program its extension belongs to)");
            return;
        }
    }
    int query = url.FindFirstOf(u"?#");
    WString path = query < 0 ? url : url.Left(query);
    int slash = path.FindLastChar(u'/');
    WString segment = path.Mid(slash + 1);
    if (name.IsEmpty()) {
        out->Error(location.line, "download-name",
                   u"the download of " + Quoted(url) + u" gets no file name: name it in Folder (subfolder?name.exe)");
    } else if (name != segment && segment.Length() > 41 && segment.EndsWith(name.c_str())) {
        out->Warning(location.line, "download-name", u"the downloaded file name is cut to its last 41 characters: " +
                                                         Quoted(name) + u" (name it in Folder: subfolder?name.exe)");
    } else if (name != segment) {
        out->Warning(location.line, "download-name", u"the download is saved as " + Quoted(name) + u", not " +
                                                         Quoted(segment) + u" (name it in Folder: subfolder?name.exe)");
    } else if (!IsSetupFileName(name)) {
        out->Warning(location.line, "download-name",
                     u"the download is saved as " + Quoted(name) + u", which Windows does not run as a setup (the shell "
                     u"opens it with whatever program its extension belongs to; name it in Folder: subfolder?name.exe)");
    }
}

void CheckDownloadedFile(CheckContext* context, const IniSection& section, const IniPair& url) {
    DiagnosticList* out = context->out;
    WString folder;
    if (const IniPair* f = CheckContext::Key(&section, u"Folder")) folder = f->value;
    WString target = DownloadTargetPath(WString(), url.value, folder);
    if (target.IsEmpty() || target.EndsWith(u"\\")) return;
    FileFacts facts;
    if (!context->options.files->Describe(target, &facts)) {
        out->Note(url.line, "package-files",
                  u"the download " + Quoted(target) + u" is not in the files folder: its size and MD5 are not compared");
        return;
    }
    // The checks as the chainer reads them, each judged by the one verdict
    // the chainer judges a download by.
    Prerequisite record;
    ReadKeys(section, kPrerequisiteKeys, kPrerequisiteKeyCount, &record);
    const ExpectedFile expected = ExpectedFileOf(record);
    const WString md5(facts.md5);
    const WString sha256(facts.sha256);
    const IniPair* sizePair = CheckContext::Key(&section, u"ExactSize");
    ExpectedFile sizeOnly;
    sizeOnly.size = expected.size;
    if (sizePair && JudgeFile(sizeOnly, facts) == Verdict::SizeDiffers)
        out->Error(sizePair->line, "package-files", u"ExactSize " + sizePair->value + u" differs from the file " +
                                                        Quoted(target) + u": ExactSize=" + WString().AppendUnsigned(facts.size));
    ExpectedFile md5Only;
    md5Only.md5 = expected.md5;
    ExpectedFile sha256Only;
    sha256Only.sha256 = expected.sha256;
    const IniPair* md5Pair = CheckContext::Key(&section, u"MD5");
    const IniPair* shaPair = CheckContext::Key(&section, u"SHA256");
    const struct {
        const IniPair* pair;
        const ExpectedFile& only;
        const char16_t* name;
        const WString& right;
    } digests[] = {{md5Pair, md5Only, u"MD5", md5}, {shaPair, sha256Only, u"SHA256", sha256}};
    for (const auto& digest : digests) {
        if (!digest.pair || !digest.only.HasDigest()) continue;
        const Verdict verdict = JudgeFile(digest.only, facts);
        if (verdict == Verdict::EmptyFile)
            out->Error(digest.pair->line, "package-files",
                       u"the file " + Quoted(target) + u" is empty: no " + digest.name + u" matches it, it is always rejected");
        else if (verdict != Verdict::Accepted)
            out->Error(digest.pair->line, "package-files", WString(digest.name) + u" differs from the file " +
                                                               Quoted(target) + u": " + digest.name + u"=" + digest.right);
    }
    if (!sizePair && !md5Pair && !shaPair && !CheckContext::Key(&section, u"SignerThumbprint") &&
        !CheckContext::Key(&section, u"SignerName"))
        out->Note(url.line, "package-files", u"the download " + Quoted(target) + u" is not checked; to check it add ExactSize=" +
                                                 WString().AppendUnsigned(facts.size) + u" and MD5=" + md5 + u" or SHA256=" + sha256);
}

// What stands in a thumbprint where a hexadecimal digit should: the
// character, or its code when it is invisible or not ASCII (a copy from the
// certificate dialog often begins with U+200E).
WString FirstNonHex(const WString& item) {
    for (int i = 0; i < item.Length(); ++i) {
        const char16_t c = item[i];
        if (HexDigitValue(c) >= 0) continue;
        if (c > 0x20 && c < 0x7F) return Quoted(WString(&c, 1));
        WString code(u"U+");
        for (int shift = 12; shift >= 0; shift -= 4) code.Append(u"0123456789ABCDEF"[(c >> shift) & 15]);
        return code;
    }
    return WString();
}

void CheckSignerKeys(DiagnosticList* out, const IniPair* thumbprints, const IniPair* name) {
    if (thumbprints && thumbprints->value.IsEmpty())
        out->Warning(thumbprints->line, "signer", WString(u"SignerThumbprint is empty: no certificate is pinned"));
    if (thumbprints) {
        const WString rejected(u": every file is rejected");
        for (const WString& item : ThumbprintItems(thumbprints->value)) {
            CertificatePin pin;
            switch (ReadThumbprint(item, &pin)) {
                case ThumbprintForm::kSha1:
                case ThumbprintForm::kSha256:
                    break;
                case ThumbprintForm::kEmpty:
                    out->Error(thumbprints->line, "signer",
                               u"SignerThumbprint has an empty item (a comma too many)" + rejected);
                    break;
                case ThumbprintForm::kWrongLength:
                    out->Error(thumbprints->line, "signer",
                               u"SignerThumbprint " + Quoted(item) + u" has " + Decimal(item.Length()) +
                                   u" hexadecimal digits, not 40 (SHA-1) or 64 (SHA-256)" + rejected);
                    break;
                case ThumbprintForm::kNotHex:
                    out->Error(thumbprints->line, "signer",
                               u"SignerThumbprint " + Quoted(item) + u" holds " + FirstNonHex(item) +
                                   u" (a thumbprint is 40 or 64 hexadecimal digits, without separators)" + rejected);
                    break;
            }
        }
    }
    if (!name) return;
    if (name->value.IsEmpty())
        out->Warning(name->line, "signer", WString(u"SignerName is empty: no name is compared"));
    else if (name->value.StartsWithNoCase(u"CN=") || name->value.Contains(u", CN=") || name->value.Contains(u",CN="))
        out->Warning(name->line, "signer",
                     u"SignerName " + Quoted(name->value) +
                         u" looks like a distinguished name: it is compared exactly with the certificate's simple "
                         u"display name (its common name, e.g. 'Contoso Ltd'), so it never matches");
}

void CheckOsList(CheckContext* context, const IniPair* pair, bool sixtyFour) {
    DiagnosticList* out = context->out;
    if (!pair || pair->value.IsEmpty()) return;
    if (pair->value == u"Windows XP/Vista/Windows 7/Windows 8 x64/Windows 8.1 x64/Windows 10 x64/Windows 11 x64" ||
        pair->value == u"Windows 9x/ME/NT/2000/XP/Vista/Windows 7/Windows 8 x86/Windows 8.1 x86/Windows 10 x86") {
        out->Note(pair->line, "value-read-differently", pair->key + u" names every Windows: the prerequisite is never evaluated on " +
                                   (sixtyFour ? WString(u"64-bit") : WString(u"32-bit")) + u" Windows");
        return;
    }
    const Array<WString>& names = AllOsNames();
    const WString& text = pair->value;
    int start = 0;
    bool unknown = false;
    while (start <= text.Length()) {
        int end = text.Find(u", ", start);
        if (end < 0) end = text.Length();
        WString entry = text.Substr(start, end - start);
        start = end + 2;
        if (entry.IsEmpty()) continue;
        bool valid = false;
        for (const WString& name : names) valid = valid || name == entry;
        if (valid) {
            if (!sixtyFour && entry.EndsWith(u" x64"))
                out->Warning(pair->line, "value-read-differently", Quoted(entry) + u" in WinNTVersions never matches: a 64-bit Windows reads only WinNT64Versions");
            else if (sixtyFour && entry.EndsWith(u" x86"))
                out->Warning(pair->line, "value-read-differently", Quoted(entry) + u" in WinNT64Versions never matches: it names a 32-bit Windows");
            continue;
        }
        if (entry.Contains(u',')) {
            out->Warning(pair->line, "value-read-differently", u"entries separated by a comma alone form one entry " + Quoted(entry) +
                                          u" that excludes nothing (separate them with \", \")");
            continue;
        }
        unknown = true;
        out->Warning(pair->line, "value-read-differently", u"no Windows is ever called " + Quoted(entry) + u": it excludes nothing" +
                                      DidYouMean(entry, names));
    }
    if (unknown && !context->osNamesListed) {
        context->osNamesListed = true;
        out->Note(pair->line, "value-read-differently", u"the names Windows is given: " + Joined(names, u", "));
    }
}

void CheckLanguageList(DiagnosticList* out, const IniPair* pair) {
    if (!pair) return;
    for (const WString& entry : Entries(pair->value, u';')) {
        int64_t value = 0;
        WString trimmed = entry.Trimmed();
        if (ClassifyNumber(trimmed, &value) != NumberForm::kClean || value < 0 || value > 0xFFFF)
            out->Warning(pair->line, "value-read-differently", u"LanguageList entry " + Quoted(entry) + u" is not a language number (it reads as " +
                                          Decimal(ParseLenientInt(entry) & 0xFFFF) + u")");
    }
}

// What the keys do with the location and the run's mode.
void CheckEffects(CheckContext* context, const IniSection& section, const IniPair& location, int32_t kind) {
    DiagnosticList* out = context->out;
    const uint8_t bit = LocationBit(kind);
    for (int i = 0; i < kPrerequisiteKeyCount; ++i) {
        const KeySchema<Prerequisite>& key = kPrerequisiteKeys[i];
        const IniPair* pair = CheckContext::Key(&section, key.name);
        if (!pair || pair->value.IsEmpty()) continue;
        if (!(key.locations & bit))
            out->Warning(pair->line, "key-without-effect",
                         pair->key + u" has no effect with " + location.key +
                             (kind == kLocationOpenSite ? WString(u": the user fetches the setup from the site, the chainer runs nothing")
                                                        : WString(u": it applies only to a download (Url)")));
    }
    for (const char16_t* key : {u"VerMin", u"VerMax"})
        if (const IniPair* pair = CheckContext::Key(&section, key))
            out->Warning(pair->line, "key-without-effect", pair->key + u" of a prerequisite bounds no search: use " +
                                                               pair->key + u"1, " + pair->key + u"2, ... beside the searches");
    if (kind == kLocationOpenSite) return;
    const char16_t* used = LaunchCommandLineKey(context->general.Options);
    const IniPair* command = CheckContext::Key(&section, u"CommandLine");
    if (!used) {
        return;
    }
    const IniPair* chosen = CheckContext::Key(&section, used);
    if (chosen && !chosen->value.IsEmpty()) {
        if (command && !command->value.IsEmpty())
            out->Note(command->line, "key-without-effect",
                      u"CommandLine is carried: a run passes " + WString(used) + u" to the setup");
        return;
    }
    Array<WString> others;
    int line = 0;
    for (const char16_t* key : {u"BasicUiCommandLine", u"NoUiCommandLine", u"CommandLine"}) {
        const IniPair* pair = CheckContext::Key(&section, key);
        if (WString(key) == used || !pair || pair->value.IsEmpty()) continue;
        others.Add(pair->key);
        if (!line) line = pair->line;
    }
    if (!others.IsEmpty())
        out->Warning(line, "unused-command-line",
                     u"Options=" + context->general.Options + u" launches the setup with " + WString(used) +
                         u", which is empty here: the setup runs without arguments (" + Joined(others, u", ") +
                         u" never reaches it)");
}

}  // namespace

void CheckPrerequisiteSection(CheckContext* context, const IniSection& section, bool loaded) {
    DiagnosticList* out = context->out;
    const IniPair* location = nullptr;
    int32_t kind = kLocationSetupFile;
    for (const LocationKeySchema& key : kLocationKeys) {
        const IniPair* pair = CheckContext::Key(&section, key.name);
        if (!pair) continue;
        if (!location) {
            location = pair;
            kind = key.kind;
        } else {
            out->Warning(pair->line, "key-without-effect", pair->key + u" is never used: " + location->key +
                                                               u" comes first (SetupFile, then OpenSite, then Url)");
        }
    }
    if (location && kind == kLocationSetupFile) {
        CheckReferences(*location, out, Expansion::kNone);
        if (!IsAbsolutePath(location->value)) {
            if (context->general.ExtractionFolder.IsEmpty())
                out->Warning(location->line, "depends-on-temp-folder",
                             u"relative SetupFile while ExtractionFolder is unset: it is looked for in the temporary "
                             u"folder plus DefaultProdCode" +
                                 (context->general.DefaultProdCode.IsEmpty() ? WString(u" (unset)")
                                                                             : u" (" + context->general.DefaultProdCode + u")") +
                                 u", not beside the chainer (set ExtractionFolder=[SETUPEXEDIR])");
            CheckPackageFile(context, *location, location->value, u"SetupFile");
        }
    }
    if (location && kind != kLocationSetupFile) CheckUrl(context, section, *location, kind == kLocationUrl);
    if (location) CheckEffects(context, section, *location, kind);
    for (const char16_t* key : {u"CommandLine", u"BasicUiCommandLine", u"NoUiCommandLine"})
        if (const IniPair* pair = CheckContext::Key(&section, key))
            CheckReferences(*pair, out,
                            kind == kLocationSetupFile && WString(key) != u"CommandLine" ? Expansion::kLocalSystemOnly
                                                                                        : Expansion::kFolderProperties);
    if (const IniPair* options = CheckContext::Key(&section, u"Options")) {
        CheckOptionLetters(*options, u"mixrR", WString(u"only m, i, x, r and R count"), out);
        const WString& letters = options->value;
        if (letters.Contains(u'r') && !letters.Contains(u'm'))
            out->Note(options->line, "option-letter",
                      WString(u"'r' restarts the machine after a successful setup; it does not make the prerequisite "
                              u"required (that is 'm')"));
        if (letters.Contains(u'R') && !letters.Contains(u'r'))
            out->Warning(options->line, "option-letter", WString(u"'R' without 'r' asks for no restart"));
        if (letters.Contains(u'i') && CheckContext::Key(&section, u"SearchType1"))
            out->Note(options->line, "key-without-effect",
                      WString(u"with 'i' the searches are never run: the setup is always selected"));
    }
    if (const IniPair* size = CheckContext::Key(&section, u"ExactSize")) CheckSize(*size, out);
    if (const IniPair* md5 = CheckContext::Key(&section, u"MD5")) {
        // The verdict compares the first 32 characters only.
        if (md5->value.Length() > 32 && IsHex(md5->value.Left(32), 32))
            out->Warning(md5->line, "value-read-differently",
                         u"MD5 " + Quoted(md5->value) + u" is longer than 32 digits: only the first 32 are compared");
        else if (!IsHex(md5->value, 32))
            out->Error(md5->line, "digest", u"MD5 " + Quoted(md5->value) + u" is not 32 hexadecimal digits: every download is rejected");
    }
    if (const IniPair* sha = CheckContext::Key(&section, u"SHA256"))
        if (!IsHex(sha->value, 64))
            out->Error(sha->line, "digest",
                       u"SHA256 " + Quoted(sha->value) + u" is not 64 hexadecimal digits: every download is rejected");
    CheckSignerKeys(out, CheckContext::Key(&section, u"SignerThumbprint"), CheckContext::Key(&section, u"SignerName"));
    if (const IniPair* opPair = CheckContext::Key(&section, u"Operator")) {
        int32_t op = CheckNumber(*opPair, out);
        if (op != 0 && op != 1)
            out->Error(opPair->line, "fixed-search-result",
                       u"Operator " + Decimal(op) + u" is neither 0 (all) nor 1 (any): the searches are never found");
    }
    CheckRange(CheckContext::Key(&section, u"VerMin"), CheckContext::Key(&section, u"VerMax"), out);
    CheckOsList(context, CheckContext::Key(&section, u"WinNTVersions"), false);
    CheckOsList(context, CheckContext::Key(&section, u"WinNT64Versions"), true);
    CheckLanguageList(out, CheckContext::Key(&section, u"LanguageList"));
    CheckSearches(context, section);
    if (loaded && context->options.files && location && kind == kLocationUrl) CheckDownloadedFile(context, section, *location);
}

// One prerequisite's section [App<N>]: its location, what each key does
// with that location and the run's mode, its values and its searches.
#include "check/check_context.h"
#include "check/check_tables.h"
#include "config/file_url.h"
#include "config/ini_schema.h"
#include "config/target_path.h"
#include "download/file_verdict.h"
#include "download/signer_rules.h"
#include "download/url_for_log.h"
#include "install/command_line.h"
#include "install/return_codes.h"
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
    if (IsQuoted(url)) {
        // With mirrors the run goes on to Url2 when this place fails, into the
        // same target, whose name the closing quote may have taken.
        const IniPair* folder = CheckContext::Key(&section, u"Folder");
        const bool named = !FileNameFromUrl(url).IsEmpty() || (folder && folder->value.FindChar(u'?') >= 0 &&
                                                              !folder->value.EndsWith(u"?"));
        const bool mirrored = download && named && CheckContext::Key(&section, u"Url2");
        out->Add(location.line, mirrored ? Severity::kWarning : Severity::kError, "value-read-differently",
                 QuotedReading(location, !download ? WString(u"the site the user is sent to does not exist")
                                         : mirrored ? WString(u"no transfer takes an address that begins with a quote, "
                                                              u"so this place fails on every machine and the run tries "
                                                              u"the mirrors")
                                                    : WString(u"no transfer takes an address that begins with a quote, so "
                                                              u"the download fails on every machine")));
        return;
    }
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

// The name a download is saved under: Folder's "?name", else the URL's.
WString DownloadName(const IniSection& section, const WString& url) {
    if (const IniPair* folder = CheckContext::Key(&section, u"Folder")) {
        const int q = folder->value.FindChar(u'?');
        if (q >= 0 && q + 1 < folder->value.Length()) return folder->value.Mid(q + 1);
    }
    return FileNameFromUrl(url);
}

// Folders every Windows has: a package may name a file there by its full path.
bool InSystemFolder(const WString& path) {
    if (path.Length() < 3 || path[1] != u':' || path[2] != u'\\') return false;
    const WString rest = path.Mid(3);
    for (const char16_t* folder : {u"Windows\\", u"Program Files\\", u"Program Files (x86)\\", u"ProgramData\\"})
        if (rest.StartsWithNoCase(folder)) return true;
    return false;
}

// Where the setup file of the package lies, and whether Windows runs it.
void CheckSetupFileLocation(CheckContext* context, const IniPair& location) {
    DiagnosticList* out = context->out;
    const WString& path = location.value;
    if (!IsAbsolutePath(path)) {
        if (context->general.ExtractionFolder.IsEmpty())
            out->Warning(location.line, "depends-on-temp-folder",
                         u"relative SetupFile while ExtractionFolder is unset: it is looked for in the temporary "
                         u"folder plus DefaultProdCode" +
                             (context->general.DefaultProdCode.IsEmpty() ? WString(u" (unset)")
                                                                         : u" (" + context->general.DefaultProdCode + u")") +
                             u", not beside the chainer (set ExtractionFolder=[SETUPEXEDIR])");
        WString missing;
        if (CheckPackageFile(context, location, path, u"SetupFile", &missing))
            out->Error(location.line, "package-files",
                       missing + u": its launch fails on every machine (2, a file was not found)");
    } else if (path.Length() >= 2 && path[1] == u':' && !InSystemFolder(path)) {
        out->Note(location.line, "package-files",
                  u"SetupFile " + Quoted(path) + u" is a full path outside the package and the system's folders: "
                  u"every machine the package runs on must have it there (write it relative to the package, with "
                  u"ExtractionFolder=[SETUPEXEDIR])");
    }
    if (ChooseLaunchMethod(path, true) == LaunchMethod::Refused)
        out->Warning(location.line, "setup-type",
                     u"SetupFile " + Quoted(path.Mid(path.FindLastChar(u'\\') + 1)) +
                         u" is no type Windows runs as a setup (.exe, .msi, .msp, .msu, .bat, .cmd, .com): an unelevated "
                         u"run hands it to the shell, which opens it with whatever program its type belongs to, and an "
                         u"elevated run refuses to start it (return code 50)");
}

// ExactSize as the lenient number reading takes it: "1,234,567" is 1.
void CheckExactSize(DiagnosticList* out, const IniPair& size) {
    int64_t value = 0;
    const NumberForm form = ClassifyNumber(size.value, &value);
    const uint64_t read = ParseLenientSize(size.value);
    const WString reads = WString().AppendUnsigned(read);
    WString digits;
    for (int i = 0; i < size.value.Length(); ++i)
        if (size.value[i] >= u'0' && size.value[i] <= u'9') digits.Append(size.value[i]);
    const bool negative = size.value.Trimmed().StartsWith(u"-");
    if ((form == NumberForm::kClean || form == NumberForm::kOutOfRange) && negative && read != 0) {
        out->Warning(size.line, "value-read-differently",
                     u"ExactSize " + size.value + u" is negative: it reads as the size " + reads +
                         u" bytes, which no setup file has, so every file is rejected");
    } else if ((form == NumberForm::kTrailingText || form == NumberForm::kNoDigits) && read == 0) {
        out->Warning(size.line, "value-read-differently",
                     u"ExactSize " + Quoted(size.value) + u" reads as 0: no size is checked (write the size in bytes, "
                     u"decimal digits only)");
    } else if (form == NumberForm::kTrailingText) {
        out->Error(size.line, "value-read-differently",
                   u"ExactSize " + Quoted(size.value) + u" reads as " + reads +
                       u": every setup file of another size is rejected before its launch (write the size in bytes, "
                       u"decimal digits only" + (digits.Length() > reads.Length() ? u": " + digits : WString()) + u")");
    } else {
        // Sizes are read in 64 bits: only a number beyond them reads otherwise.
        CheckSize(size, out);
    }
}

// MD5 and SHA256, as the one verdict reads them (trimmed; empty: no check).
void CheckDigests(DiagnosticList* out, const IniPair* md5, const IniPair* sha) {
    const WString rejected(u": every file is rejected before its launch");
    if (md5 && !md5->value.Trimmed().IsEmpty()) {
        const WString digest = md5->value.Trimmed();
        if (IsQuoted(digest))
            out->Error(md5->line, "digest", QuotedReading(*md5, WString(u"a quote is no hexadecimal digit, so every file is rejected")));
        else if (digest.Length() > 32 && IsHex(digest.Left(32), 32))
            out->Note(md5->line, "digest",
                      u"MD5 is read as its first 32 characters " + Quoted(digest.Left(32)) + u"; the rest (" +
                          Quoted(digest.Mid(32)) + u") is ignored");
        else if (!IsHex(digest, 32))
            out->Error(md5->line, "digest", u"MD5 " + Quoted(md5->value) + u" is not 32 hexadecimal digits" + rejected);
    }
    if (sha && !sha->value.Trimmed().IsEmpty() && !IsHex(sha->value.Trimmed(), 64))
        out->Error(sha->line, "digest", u"SHA256 " + Quoted(sha->value) + u" is not 64 hexadecimal digits" + rejected);
}

// Folder: "subfolder" or "subfolder?name"; without "?" all of it is a folder.
void CheckFolderKey(DiagnosticList* out, const IniPair& folder) {
    const WString& text = folder.value;
    const int q = text.FindChar(u'?');
    const WString sub = q < 0 ? text : text.Left(q);
    if (IsAbsolutePath(sub) || (sub.Length() >= 2 && sub[1] == u':')) {
        out->Error(folder.line, "download-name",
                   u"Folder " + Quoted(sub) + u" is a subfolder of the download folder, not a folder of its own: the "
                   u"target becomes the download folder followed by " + Quoted(sub) + u", which is no path, so the "
                   u"download fails (set DownloadFolder in [GeneralOptions] for the folder; Folder names a subfolder "
                   u"and the file: sub?name.exe)");
        return;
    }
    if (q >= 0) return;
    const WString last = text.Mid(text.FindLastChar(u'\\') + 1);
    if (!IsSetupFileName(last)) return;
    const int slash = text.FindLastChar(u'\\');
    out->Warning(folder.line, "download-name",
                 u"Folder " + Quoted(text) + u" has no \"?\": all of it is a subfolder, so the download is saved in a "
                 u"folder named " + Quoted(last) + u" under the URL's file name (write Folder=" +
                     (slash < 0 ? WString() : text.Left(slash)) + u"?" + last + u")");
}

// ReturnCodes: the items the chainer ignores, and meanings that say other
// than what the code means.
void CheckReturnCodes(DiagnosticList* out, const IniPair& pair) {
    Array<ReturnCodeProblem> problems;
    const ReturnCodeTable table = ReturnCodeTable::Parse(pair.value, &problems);
    const WString ignored(u": the chainer ignores the item, so the code keeps the rule of every package (0 succeeds, "
                          u"anything else fails)");
    Array<WString> words;
    for (CodeMeaning m : {CodeMeaning::kSuccess, CodeMeaning::kReboot, CodeMeaning::kRebooting, CodeMeaning::kRetry,
                          CodeMeaning::kFailure})
        words.Add(WString(CodeMeaningWord(m)));
    for (const ReturnCodeProblem& problem : problems) {
        const int colon = problem.item.FindChar(u':');
        const WString code = colon < 0 ? problem.item : problem.item.Left(colon).Trimmed();
        const WString meaning = colon < 0 ? WString() : problem.item.Mid(colon + 1).Trimmed();
        switch (problem.kind) {
            case ReturnCodeProblem::kNoColon:
                out->Warning(pair.line, "return-codes",
                             u"ReturnCodes item " + Quoted(problem.item) + u" is not code:meaning" + ignored);
                break;
            case ReturnCodeProblem::kBadCode:
                out->Warning(pair.line, "return-codes",
                             u"ReturnCodes item " + Quoted(problem.item) + u": " + Quoted(code) +
                                 u" is no code (decimal, negative, or hexadecimal after 0x, within 32 bits)" + ignored);
                break;
            case ReturnCodeProblem::kBadMeaning:
                out->Warning(pair.line, "return-codes",
                             u"ReturnCodes item " + Quoted(problem.item) + u": " + Quoted(meaning) +
                                 u" is not success, reboot, rebooting, retry or failure" + DidYouMean(meaning, words) + ignored);
                break;
            case ReturnCodeProblem::kRepeated: {
                uint32_t value = 0;
                (void)ParseReturnCode(code, &value);
                out->Warning(pair.line, "return-codes",
                             u"ReturnCodes lists " + code + u" again: the first item counts (" +
                                 CodeMeaningWord(table.MeaningOf(value)) + u"), " + Quoted(problem.item) + u" is ignored");
                break;
            }
        }
    }
    for (const ReturnCodeRule& rule : table.Rules()) {
        const WString code = static_cast<int32_t>(rule.code) < 0 ? Decimal(static_cast<int32_t>(rule.code)) : Decimal(rule.code);
        const WString item = code + u":" + CodeMeaningWord(rule.meaning);
        if (rule.code == 0 && rule.meaning != CodeMeaning::kSuccess)
            out->Warning(pair.line, "return-codes",
                         u"ReturnCodes " + item + u": a setup that succeeds (0) then counts as " +
                             CodeMeaningWord(rule.meaning) + u" (leave 0 out: it means success)");
        else if (rule.code == 1641 && rule.meaning != CodeMeaning::kRebooting)
            out->Warning(pair.line, "return-codes",
                         u"ReturnCodes " + item + u": 1641 tells that the setup has already started a restart, yet the "
                         u"chain " + (rule.meaning == CodeMeaning::kRetry ? WString(u"starts it again")
                                                                         : WString(u"goes on while Windows shuts down")) +
                             u" (write 1641:rebooting)");
        else if (rule.code == 3010 && rule.meaning == CodeMeaning::kRebooting)
            out->Warning(pair.line, "return-codes",
                         u"ReturnCodes 3010:rebooting: 3010 asks for a restart that has not started, yet nothing more is "
                         u"launched and the chainer starts no restart (write 3010:reboot)");
        else if ((rule.code == 1602 || rule.code == 1603) && rule.meaning != CodeMeaning::kFailure)
            out->Note(pair.line, "return-codes",
                      u"ReturnCodes " + item + u": " + code + (rule.code == 1602 ? WString(u" means the user cancelled the setup")
                                                                                 : WString(u" means the setup failed")) +
                          u", and the run counts it as " + CodeMeaningWord(rule.meaning));
    }
}

// With --files: the file's bytes judged by the one verdict the chainer
// judges them by before every launch, each check on its own.
void CheckFileBytes(CheckContext* context, const IniSection& section, const IniPair& location, const WString& path,
                    const Prerequisite& record, bool download) {
    DiagnosticList* out = context->out;
    FileFacts facts;
    if (!context->options.files->Describe(path, &facts)) {
        if (download)
            out->Note(location.line, "package-files",
                      u"the download " + Quoted(path) + u" is not in the files folder: its size and digests are not compared");
        return;
    }
    const uint64_t size = facts.size;
    const WString md5(facts.md5);
    const WString sha256(facts.sha256);
    const ExpectedFile expected = ExpectedFileOf(record);
    WString what = (download ? WString(u"the download ") : WString(u"the setup file ")) + Quoted(path);
    // Every place of a download writes the same target: the file compared
    // stands for the Url and its mirrors alike.
    if (download && CheckContext::Key(&section, u"Url2")) what += u" (the target of Url and its mirrors)";
    const WString rejected(u": every launch of it is rejected");
    ExpectedFile one;
    one.size = expected.size;
    const IniPair* sizePair = CheckContext::Key(&section, u"ExactSize");
    if (one.size && JudgeFile(one, facts) != Verdict::Accepted)
        out->Error(sizePair->line, "package-files", u"ExactSize " + sizePair->value + u" differs from " + what + rejected +
                                                        u" (ExactSize=" + WString().AppendUnsigned(size) + u")");
    for (int digest = 0; digest < 2; ++digest) {
        one = ExpectedFile();
        (digest ? one.sha256 : one.md5) = digest ? expected.sha256 : expected.md5;
        const IniPair* pair = CheckContext::Key(&section, digest ? u"SHA256" : u"MD5");
        if (!one.HasDigest()) continue;
        const Verdict verdict = JudgeFile(one, facts);
        if (verdict == Verdict::EmptyFile)
            out->Error(pair->line, "package-files", what + u" is empty: no digest matches an empty file" + rejected);
        else if (verdict != Verdict::Accepted)
            out->Error(pair->line, "package-files", pair->key + u" differs from " + what + rejected + u" (" + pair->key +
                                                        u"=" + (digest ? sha256 : md5) + u")");
    }
    if (download && !expected.HasCheck())
        out->Note(location.line, "package-files", what + u" is not checked; to check it add ExactSize=" +
                                                      WString().AppendUnsigned(size) + u" and MD5=" + md5 + u" or SHA256=" + sha256);
}

// Url<k> keys the chainer never reads: after a gap in their numbers, or
// beside a location other than Url.
void CheckMirrorKeys(DiagnosticList* out, const IniSection& section, const IniPair* location, int32_t kind, int read) {
    for (const IniPair& pair : section.Pairs()) {
        WString base;
        const int k = NumberedKeyIndex(pair.key, &base);
        if (k < 2 || base != kMirrorUrlBase) continue;
        if (!location || kind != kLocationUrl)
            out->Warning(pair.line, "mirrors", pair.key + u" is never read: mirrors are places of a Url download, and " +
                                                   (location ? location->key + u" comes first" : WString(u"there is no Url")));
        else if (k > read + 1)
            out->Warning(pair.line, "mirrors", pair.key + u" is never read: mirrors are numbered from Url2 without gaps, and " +
                                                   NumberedKey(kMirrorUrlBase, read + 2) + u" is missing");
    }
}

// A download over plain http or ftp that nothing checks: whoever sits on
// the way can hand the run another program, which it then starts. Loopback
// addresses stay on the machine.
void CheckUncheckedDownload(DiagnosticList* out, const IniSection& section, const IniPair& location, int mirrors) {
    for (const char16_t* key : {u"MD5", u"SHA256", u"SignerThumbprint", u"SignerName"})
        if (const IniPair* pair = CheckContext::Key(&section, key))
            if (!pair->value.Trimmed().IsEmpty()) return;
    for (int k = 1; k <= mirrors + 1; ++k) {
        const IniPair* place = k == 1 ? &location : CheckContext::Key(&section, NumberedKey(kMirrorUrlBase, k).c_str());
        const WString& url = place->value;
        if (!url.StartsWithNoCase(u"http://") && !url.StartsWithNoCase(u"ftp://")) continue;
        WString host = UrlHostForDisplay(url);
        const int colon = host.FindLastChar(u':');
        if (colon > 0 && host.FindChar(u']') < colon) host = host.Left(colon);
        if (host.EqualsNoCase(u"localhost") || host.StartsWith(u"127.") || host == u"[::1]") continue;
        out->Warning(place->line, "unchecked-download",
                     place->key + u" downloads over plain " + url.Left(url.FindChar(u':')) +
                         u" and nothing checks the bytes: anyone on the way can hand the run another program, which it "
                         u"then starts (add SHA256=, or SignerThumbprint= to trust the publisher)");
        return;
    }
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

void CheckOsList(CheckContext* context, const IniPair* pair, bool sixtyFour, SectionFacts* facts) {
    DiagnosticList* out = context->out;
    if (!pair || pair->value.IsEmpty()) return;
    if (sixtyFour ? pair->value == u"Windows XP/Vista/Windows 7/Windows 8 x64/Windows 8.1 x64/Windows 10 x64/Windows 11 x64"
                  : pair->value == u"Windows 9x/ME/NT/2000/XP/Vista/Windows 7/Windows 8 x86/Windows 8.1 x86/Windows 10 x86") {
        (sixtyFour ? facts->osExcluded64 : facts->osExcluded32) = true;
        if (!facts->excludedLine) facts->excludedLine = pair->line;
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
    if (text.Contains(sixtyFour ? u"Windows 10 x64" : u"Windows 10 x86") &&
        (!sixtyFour || text.Contains(u"Windows 11 x64")))
        out->Note(pair->line, "value-read-differently",
                  pair->key + u" names the systems on which the prerequisite is skipped, not those it is for: it is never "
                  u"searched for nor installed on " + (sixtyFour ? WString(u"64-bit Windows 10 and 11") : WString(u"32-bit Windows 10")));
    if (unknown && !context->osNamesListed) {
        context->osNamesListed = true;
        out->Note(pair->line, "value-read-differently", u"the names Windows is given: " + Joined(names, u", "));
    }
}

// A language the system can have: a primary language with its region
// (1033 English (United States)); 9 alone names no system language.
bool IsSystemLanguage(int32_t id) { return (id & 0x3FF) != 0 && (id & 0xFFFF) >> 10 != 0; }

void CheckLanguageList(DiagnosticList* out, const IniPair* pair, SectionFacts* facts) {
    if (!pair || pair->value.IsEmpty()) return;
    bool any = false;
    for (const WString& entry : Entries(pair->value, u';')) {
        int64_t value = 0;
        WString trimmed = entry.Trimmed();
        const int32_t read = ParseLenientInt(entry) & 0xFFFF;
        any = any || IsSystemLanguage(read);
        if (ClassifyNumber(trimmed, &value) == NumberForm::kTrailingText && trimmed.FindFirstOf(u", ") >= 0)
            out->Warning(pair->line, "value-read-differently",
                         u"LanguageList entry " + Quoted(entry) + u" reads as " + Decimal(read) +
                             u" (only \";\" separates languages): the prerequisite is evaluated only where the system "
                             u"language is " + Decimal(read) + u" (write the numbers separated by \";\")");
        else if (ClassifyNumber(trimmed, &value) != NumberForm::kClean || value < 0 || value > 0xFFFF)
            out->Warning(pair->line, "value-read-differently", u"LanguageList entry " + Quoted(entry) +
                                                                  u" is not a language number (it reads as " +
                                                                  Decimal(read) + u")");
        else if (!IsSystemLanguage(read))
            out->Warning(pair->line, "value-read-differently",
                         u"LanguageList entry " + Quoted(entry) + u" names a language without its region, which no "
                         u"system language equals (1033 is English (United States), 1031 German (Germany))");
    }
    if (!any) {
        facts->excludedLine = pair->line;
        facts->excludedWhy = u"LanguageList " + Quoted(pair->value) + u" matches no system language";
    }
}

// "mandatory", "required" and the like, read letter by letter.
const struct {
    const char16_t* word;
    const char16_t* letters;
} kOptionWords[] = {{u"mandatory", u"m"}, {u"required", u"m"}, {u"must", u"m"},    {u"reboot", u"r"},
                    {u"restart", u"r"},   {u"ignore", u"i"},    {u"always", u"i"}, {u"x64", u"x"},
                    {u"64bit", u"x"},     {u"64-bit", u"x"},    {u"optional", u""}};

WString LetterMeaning(char16_t letter) {
    switch (letter) {
        case u'm': return WString(u"m (mandatory)");
        case u'i': return WString(u"i (no searches: installed on every run, exempt from the final check)");
        case u'x': return WString(u"x (64-bit registry view and file system for the searches)");
        case u'r': return WString(u"r (restart the machine after a successful setup: in a silent run without a question)");
        case u'R': return WString(u"R (with r: restart only when the prerequisite is then found)");
    }
    return WString();
}

// A prerequisite's Options: its letters, as the chainer finds them in the text.
void CheckPrerequisiteOptions(CheckContext* context, const IniSection& section, const IniPair& options) {
    DiagnosticList* out = context->out;
    const WString& letters = options.value;
    int stray = 0;
    for (int i = 0; i < letters.Length(); ++i) stray += !WString(u"mixrR ").Contains(letters[i]);
    if (stray >= 3) {
        // A word: one message with what it reads as.
        Array<WString> meant;
        WString seen;
        for (const char16_t c : {u'm', u'i', u'x', u'r', u'R'})
            if (letters.Contains(c)) meant.Add(LetterMeaning(c)), seen.Append(c);
        WString instead;
        for (const auto& word : kOptionWords)
            if (letters.Trimmed().EqualsNoCase(word.word)) instead = u" (write Options=" + WString(word.letters) + u")";
        out->Add(options.line, letters.Contains(u'r') || letters.Contains(u'i') ? Severity::kError : Severity::kWarning,
                 "option-letter",
                 u"Options=" + letters + u" is read letter by letter: " +
                     (meant.IsEmpty() ? WString(u"no letter of it means anything")
                                      : u"it reads as " + Joined(meant, u", ") + u"; the other letters mean nothing") +
                     (instead.IsEmpty() ? WString(u" (write only the letters meant: m, i, x, r, R)") : instead));
    } else {
        CheckOptionLetters(options, u"mixrR", WString(u"only m, i, x, r and R count"), out);
        if (letters.Contains(u'r') && !letters.Contains(u'm'))
            out->Note(options.line, "option-letter",
                      WString(u"'r' restarts the machine after a successful setup (in a silent run without a question); "
                              u"it does not make the prerequisite required (that is 'm')"));
    }
    if (letters.Contains(u'R') && !letters.Contains(u'r'))
        out->Warning(options.line, "option-letter", WString(u"'R' without 'r' asks for no restart"));
    if (stray < 3 && letters.Contains(u'i') && CheckContext::Key(&section, u"SearchType1"))
        out->Note(options.line, "key-without-effect",
                  WString(u"with 'i' the searches are never run: the setup is always selected"));
}

// The setup's arguments: the chainer starts the file itself and hands the
// whole text over as arguments.
void CheckCommandLineProgram(DiagnosticList* out, const IniPair& pair, const WString& setupName) {
    WString text = pair.value.Trimmed();
    if (text.IsEmpty()) return;
    WString first;
    if (text[0] == u'"') {
        const int close = text.FindChar(u'"', 1);
        first = text.Substr(1, close < 0 ? -1 : close - 1);
    } else {
        const int blank = text.FindFirstOf(u" \t");
        first = blank < 0 ? text : text.Left(blank);
    }
    const WString name = first.Mid(first.FindLastChar(u'\\') + 1);
    const bool msiexec = name.EqualsNoCase(u"msiexec") || name.EqualsNoCase(u"msiexec.exe");
    if (!msiexec && (setupName.IsEmpty() || !name.EqualsNoCase(setupName))) return;
    out->Warning(pair.line, "unused-command-line",
                 pair.key + u" begins with " + Quoted(first) + u": the chainer starts the setup file itself (a .msi "
                 u"through msiexec) and hands this whole text to it as its arguments, program name included; write "
                 u"only the arguments (e.g. " + pair.key + u"=/qn)");
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
    SectionFacts facts;
    WString base;
    facts.n = NumberedKeyIndex(section.Name(), &base);
    facts.line = section.Line();
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
    WString setupName;
    if (location && kind == kLocationSetupFile) {
        setupName = location->value.Mid(location->value.FindLastChar(u'\\') + 1);
        if (IsQuoted(location->value)) {
            out->Error(location->line, "value-read-differently",
                       QuotedReading(*location, WString(u"no file has such a name, so its launch fails on every machine "
                                                        u"(2, a file was not found)")));
        } else {
            CheckReferences(*location, out, Expansion::kNone);
            CheckSetupFileLocation(context, *location);
        }
    }
    if (location && kind != kLocationSetupFile) CheckUrl(context, section, *location, kind == kLocationUrl);
    int mirrors = 0;
    for (int k = 2; location && kind == kLocationUrl; ++k) {
        const IniPair* mirror = CheckContext::Key(&section, NumberedKey(kMirrorUrlBase, k).c_str());
        if (!mirror) break;
        ++mirrors;
        if (IsQuoted(mirror->value))
            out->Warning(mirror->line, "value-read-differently",
                         QuotedReading(*mirror, WString(u"no transfer takes an address that begins with a quote, so this "
                                                        u"mirror fails on every machine")));
    }
    CheckMirrorKeys(out, section, location, kind, mirrors);
    if (location && kind == kLocationUrl) CheckUncheckedDownload(out, section, *location, mirrors);
    if (location && kind == kLocationUrl) setupName = DownloadName(section, location->value);
    if (location) CheckEffects(context, section, *location, kind);
    for (const char16_t* key : {u"CommandLine", u"BasicUiCommandLine", u"NoUiCommandLine"})
        if (const IniPair* pair = CheckContext::Key(&section, key)) {
            CheckReferences(*pair, out,
                            kind == kLocationSetupFile && WString(key) != u"CommandLine" ? Expansion::kLocalSystemOnly
                                                                                        : Expansion::kFolderProperties);
            if (location && kind != kLocationOpenSite && WString(key) != u"CommandLine")
                CheckCommandLineProgram(out, *pair, setupName);
        }
    if (const IniPair* options = CheckContext::Key(&section, u"Options")) CheckPrerequisiteOptions(context, section, *options);
    if (const IniPair* size = CheckContext::Key(&section, u"ExactSize")) CheckExactSize(out, *size);
    CheckDigests(out, CheckContext::Key(&section, u"MD5"), CheckContext::Key(&section, u"SHA256"));
    CheckSignerKeys(out, CheckContext::Key(&section, u"SignerThumbprint"), CheckContext::Key(&section, u"SignerName"));
    if (const IniPair* codes = CheckContext::Key(&section, u"ReturnCodes")) CheckReturnCodes(out, *codes);
    if (const IniPair* folder = CheckContext::Key(&section, u"Folder"))
        if (location && kind == kLocationUrl) CheckFolderKey(out, *folder);
    if (const IniPair* opPair = CheckContext::Key(&section, u"Operator")) CheckNumber(*opPair, out);
    CheckOsList(context, CheckContext::Key(&section, u"WinNTVersions"), false, &facts);
    CheckOsList(context, CheckContext::Key(&section, u"WinNT64Versions"), true, &facts);
    CheckLanguageList(out, CheckContext::Key(&section, u"LanguageList"), &facts);
    CheckSearches(context, section, &facts);
    if (loaded && context->options.files && location && facts.n >= 1 && facts.n <= context->records.Size()) {
        const Prerequisite& record = context->records[facts.n - 1];
        if (kind == kLocationUrl && !IsLocalFileUrl(location->value)) {
            const WString target = DownloadTargetPath(WString(), location->value,
                                                      CheckContext::Key(&section, u"Folder") ? CheckContext::Key(&section, u"Folder")->value : WString());
            if (!target.IsEmpty() && !target.EndsWith(u"\\")) CheckFileBytes(context, section, *location, target, record, true);
        } else if (kind == kLocationSetupFile && !IsAbsolutePath(location->value) && location->value.FindFirstOf(u"[%!") < 0) {
            CheckFileBytes(context, section, *location, location->value, record, false);
        }
    }
    context->sections.Add(facts);
}

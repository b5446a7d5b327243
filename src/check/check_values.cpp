#include "check/check_context.h"
#include "check/check_tables.h"
#include "evaluation/version.h"
#include "platform/path_rules.h"
#include "platform/references.h"

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsHexDigit(char16_t c) { return HexDigitValue(c) >= 0; }

// Records what the reference scanner asks for.
class RecordingResolver : public ReferenceResolver {
public:
    Array<WString> folders, variables, registry;
    bool FolderProperty(const WString& name, bool, WString* value) override {
        folders.Add(name);
        *value = WString(u"C:\\Folder\\");
        return true;
    }
    WString EnvironmentVariable(const WString& name) override {
        variables.Add(name);
        return WString(u"C:\\Variable");
    }
    WString RegistryValue(const WString& path, bool) override {
        registry.Add(path);
        return WString(u"C:\\Value");
    }
};

const char16_t* const kRegistryRoots[] = {u"HKLM", u"HKEY_LOCAL_MACHINE", u"HKCU", u"HKEY_CURRENT_USER",
                                          u"HKCR", u"HKEY_CLASSES_ROOT", u"HKCC", u"HKEY_CURRENT_CONFIG",
                                          u"HKU", u"HKEY_USERS", nullptr};

bool LooksLikePercentEscape(const WString& name) {
    return name.Length() >= 2 && IsHexDigit(name[0]) && IsHexDigit(name[1]);
}

void CheckVersionText(const IniPair* pair, VersionValue* value, DiagnosticList* out) {
    if (!pair || pair->value.IsEmpty()) return;
    bool parsed = false;
    *value = ParseVersion(pair->value, &parsed);
    if (parsed) return;
    bool digits = pair->value.FindFirstOf(u"0123456789") >= 0;
    out->Warning(pair->line, "value-read-differently",
                 pair->key + u"=" + pair->value +
                     (digits ? WString(u" overflows (a part above 2147483647): it sets no bound")
                             : WString(u" holds no digits: it sets no bound")));
}

}  // namespace

bool IsRegistryRoot(const WString& root) {
    for (const char16_t* const* r = kRegistryRoots; *r; ++r)
        if (root.EqualsNoCase(*r)) return true;
    return false;
}

Array<WString> RegistryRoots() { return ListOf(kRegistryRoots); }

bool IsQuoted(const WString& text) {
    return text.Length() >= 2 && ((text[0] == u'"' && text.Last() == u'"') || (text[0] == u'\'' && text.Last() == u'\''));
}

WString QuotedReading(const IniPair& pair, const WString& effect, bool advice) {
    WString reading = pair.key + u" reads as " + pair.value + u" with its quotes (an INI value has no quoting: they are "
                                                              u"part of it): " + effect;
    return advice ? reading + u"; " + QuotedAdvice(pair) : reading;
}

WString QuotedAdvice(const IniPair& pair) {
    return u"write " + pair.key + u"=" + pair.value.Substr(1, pair.value.Length() - 2);
}

WString Quoted(const WString& text) { return u"'" + text + u"'"; }
WString Decimal(int64_t value) { return WString().AppendDecimal(value); }

WString Joined(const Array<WString>& names, const char16_t* separator) {
    WString out;
    for (int i = 0; i < names.Size(); ++i) {
        if (i) out.Append(separator);
        out.Append(names[i]);
    }
    return out;
}

WString DidYouMean(const WString& name, const Array<WString>& candidates) {
    WString nearest = NearestName(name, candidates);
    if (nearest.IsEmpty()) return WString();
    if (nearest != name && nearest.EqualsNoCase(name))
        return u" (did you mean " + Quoted(nearest) + u"? names are case-sensitive)";
    return u" (did you mean " + Quoted(nearest) + u"?)";
}

Array<WString> ListOf(const char16_t* const* list) {
    Array<WString> out;
    for (; *list; ++list) out.Add(WString(*list));
    return out;
}

bool AllDigits(const WString& text) {
    for (int i = 0; i < text.Length(); ++i)
        if (!IsDigit(text[i])) return false;
    return true;
}

Array<WString> Entries(const WString& text, char16_t separator) {
    Array<WString> entries;
    int start = 0;
    while (start < text.Length()) {
        int end = text.FindChar(separator, start);
        if (end < 0) end = text.Length();
        entries.Add(text.Substr(start, end - start));
        start = end + 1;
    }
    return entries;
}

NumberForm ClassifyNumber(const WString& text, int64_t* value) {
    int i = 0;
    bool negative = false;
    if (i < text.Length() && text[i] == u'-') {
        negative = true;
        ++i;
    }
    if (i < text.Length() && text[i] == u'+') ++i;
    int start = i;
    int64_t v = 0;
    bool big = false;
    for (; i < text.Length() && IsDigit(text[i]); ++i) {
        v = v * 10 + (text[i] - u'0');
        if (v > 0xFFFFFFFFLL) big = true, v = 0xFFFFFFFFLL;
    }
    *value = negative ? -v : v;
    if (i == start) return NumberForm::kNoDigits;
    if (i < text.Length()) return NumberForm::kTrailingText;
    if (big || *value > 0x7FFFFFFF || *value < -0x7FFFFFFFLL - 1) return NumberForm::kOutOfRange;
    return NumberForm::kClean;
}

int32_t CheckNumber(const IniPair& pair, DiagnosticList* out) {
    int64_t value = 0;
    int32_t read = ParseLenientInt(pair.value);
    const char* rule = "value-read-differently";
    switch (ClassifyNumber(pair.value, &value)) {
        case NumberForm::kNoDigits:
            out->Warning(pair.line, rule, pair.key + u"=" + pair.value + u" holds no number: it reads as " + Decimal(read));
            break;
        case NumberForm::kTrailingText:
            out->Warning(pair.line, rule, pair.key + u" has text after its number: " + Quoted(pair.value) +
                                              u" reads as " + Decimal(read));
            break;
        case NumberForm::kOutOfRange:
            out->Warning(pair.line, rule, pair.key + u"=" + pair.value + u" is out of range (32-bit): it reads as " +
                                              Decimal(read));
            break;
        default: break;
    }
    return read;
}

void CheckSize(const IniPair& pair, DiagnosticList* out) {
    const WString& text = pair.value;
    const uint64_t read = ParseLenientSize(text);
    const WString reads = WString(u"reads as ").AppendUnsigned(read);
    const char* rule = "value-read-differently";
    int i = 0;
    const bool negative = i < text.Length() && text[i] == u'-';
    if (negative) ++i;
    if (i < text.Length() && text[i] == u'+') ++i;
    const int start = i;
    bool beyond = false;
    uint64_t v = 0;
    for (; i < text.Length() && IsDigit(text[i]); ++i) {
        const uint64_t digit = static_cast<uint64_t>(text[i] - u'0');
        if (v > (~0ull - digit) / 10) beyond = true;
        v = beyond ? v : v * 10 + digit;
    }
    if (i == start) {
        out->Warning(pair.line, rule, pair.key + u"=" + text + u" holds no number: it " + reads);
    } else if (i < text.Length()) {
        out->Warning(pair.line, rule, pair.key + u" has text after its number: " + Quoted(text) + u" " + reads);
    } else if (beyond) {
        out->Warning(pair.line, rule, pair.key + u"=" + text + u" is out of range (64-bit): it " + reads +
                                          u", a size no file has: every download is rejected");
    }
    if (negative && v)
        out->Warning(pair.line, rule, pair.key + u" is negative: it " + reads);
}

void CheckOptionLetters(const IniPair& pair, const char16_t* letters, const WString& meaning, DiagnosticList* out) {
    for (int i = 0; i < pair.value.Length(); ++i) {
        char16_t c = pair.value[i];
        if (WString(letters).Contains(c) || c == u' ') continue;
        WString message = u"option letter " + Quoted(WString(&c, 1)) + u" means nothing here";
        char16_t lower = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : 0;
        char16_t upper = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : 0;
        if (lower && WString(letters).Contains(lower))
            message += u" (letters are case-sensitive: did you mean " + Quoted(WString(&lower, 1)) + u"?)";
        else if (upper && WString(letters).Contains(upper))
            message += u" (letters are case-sensitive: did you mean " + Quoted(WString(&upper, 1)) + u"?)";
        out->Warning(pair.line, "value-read-differently", message + u"; " + meaning);
    }
}

WString CheckRange(const IniPair* minPair, const IniPair* maxPair, DiagnosticList* out) {
    VersionValue minimum, maximum;
    CheckVersionText(minPair, &minimum, out);
    CheckVersionText(maxPair, &maximum, out);
    if (!minimum.IsZero() && !maximum.IsZero() && CompareVersions(minimum, maximum) > 0)
        return minPair->key + u" " + FormatVersion(minimum) + u" is above " + maxPair->key + u" " +
               FormatVersion(maximum) + u": no version is ever acceptable, so the search is never found";
    // A maximum of one or two parts stops at its .0.0: "4.8" rejects 4.8.04084.
    if (!maximum.IsZero() && maximum.count <= 2) {
        WString read;
        for (int i = 0; i < 4; ++i) read += (i ? u"." : u"") + Decimal(maximum.part[i]);
        WString family = Decimal(maximum.part[0]);
        if (maximum.count == 2) family += u"." + Decimal(maximum.part[1]);
        out->Note(maxPair->line, "value-read-differently",
                  maxPair->key + u"=" + maxPair->value + u" reads as " + read + u": a later " + family + u" such as " +
                      family + (maximum.count == 1 ? u".5" : u".1") + u" is above it and not accepted (to accept every " +
                      family + u" write " + maxPair->key + u"=" + family +
                      (maximum.count == 1 ? u".65535.65535.65535)" : u".65535.65535)"));
    }
    return WString();
}

void CheckRegistryPath(const IniPair& pair, const WString& path, DiagnosticList* out, bool reference) {
    int slash = path.FindChar(u'\\');
    if (slash < 0) {
        if (reference)
            out->Warning(pair.line, "registry-path", u"registry reference !" + path + u"! has no backslash: it expands to nothing");
        else
            out->Error(pair.line, "registry-path",
                       u"registry path " + Quoted(path) + u" has no backslash: it names no key and is never found");
        return;
    }
    WString root = path.Left(slash);
    if (IsRegistryRoot(root)) return;
    out->Warning(pair.line, "registry-path", u"registry root " + Quoted(root) + u" is unknown: HKEY_USERS is used" +
                                                 DidYouMean(root, ListOf(kRegistryRoots)));
}

void CheckReferences(const IniPair& pair, DiagnosticList* out, Expansion expansion) {
    const WString& text = pair.value;
    const char* rule = "reference";
    if (expansion == Expansion::kNone) {
        if (text.FindFirstOf(u"[%!") >= 0)
            out->Warning(pair.line, rule,
                         pair.key + u" is used as written: references ([...], %...%, !...!) are not expanded in it");
        return;
    }
    RecordingResolver recorder;
    ExpandReferences(text, false, recorder);
    for (const WString& name : recorder.folders) {
        if (IsInList(kFolderPropertyNames, name)) continue;
        out->Warning(pair.line, rule, u"unknown folder property [" + name + u"] stays in the text" +
                                          DidYouMean(name, ListOf(kFolderPropertyNames)));
    }
    const bool commandLine = expansion == Expansion::kFolderProperties || expansion == Expansion::kLocalSystemOnly;
    if (commandLine) {
        for (const WString& name : recorder.variables)
            out->Warning(pair.line, "launch-expansion",
                         u"%" + name + u"% is not expanded in a setup's command line: it is passed as written");
        for (const WString& path : recorder.registry)
            out->Warning(pair.line, "launch-expansion",
                         u"!" + path + u"! is not expanded in a setup's command line: it is passed as written");
        if (expansion == Expansion::kLocalSystemOnly)
            for (const WString& name : recorder.folders)
                if (IsInList(kFolderPropertyNames, name))
                    out->Warning(pair.line, "launch-expansion",
                                 u"[" + name + u"] in " + pair.key + u" reaches a setup of the package as written: the "
                                 u"shell launch passes the command line unchanged, only a launch under LocalSystem "
                                 u"resolves folder properties");
    } else {
        for (const WString& name : recorder.variables)
            if (expansion == Expansion::kUrl && LooksLikePercentEscape(name))
                out->Warning(pair.line, rule, u"%" + name + u"% is read as an environment variable and replaced by its "
                                              u"value (escape sequences such as %20 are not kept in a Url)");
        for (const WString& path : recorder.registry) CheckRegistryPath(pair, path, out, true);
    }
    // Openers without closers: the scanner copies the rest unchanged.
    int i = text.FindFirstOf(u"[%!");
    while (i >= 0) {
        char16_t opener = text[i];
        char16_t closer = opener == u'[' ? u']' : opener;
        int from = opener == u'[' ? i : opener == u'%' ? i + 1 : i + 2;
        int close = from < text.Length() ? text.FindChar(closer, from) : -1;
        if (close < 0) {
            if (opener == u'[' || expansion == Expansion::kAll)
                out->Warning(pair.line, rule, u"unclosed " + Quoted(WString(&opener, 1)) + u" in " + pair.key +
                                                  u": the text from it on is used as written");
            break;
        }
        i = text.FindFirstOf(u"[%!", close + 1);
    }
}

bool DependsOnCurrentFolder(const WString& path) {
    if (path.IsEmpty()) return false;
    RecordingResolver recorder;
    return !IsAbsolutePath(ExpandReferences(path, false, recorder));
}

bool CheckPackageFile(CheckContext* context, const IniPair& pair, const WString& relative, const char16_t* what,
                      WString* missing) {
    if (!context->options.files || IsAbsolutePath(relative) || relative.FindFirstOf(u"[%!") >= 0) return false;
    FileFacts facts;
    if (context->options.files->Describe(relative, &facts)) return false;
    WString message = WString(what) + u" " + Quoted(relative) + u" is not among the package's files";
    if (missing)
        *missing = message;
    else
        context->out->Error(pair.line, "package-files", message);
    return true;
}

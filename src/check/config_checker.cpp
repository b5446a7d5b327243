#include "check/config_checker.h"

#include "check/check_tables.h"
#include "config/ini_document.h"
#include "config/prerequisite.h"
#include "config/ini_path.h"
#include "config/target_path.h"
#include "platform/references.h"
#include "evaluation/version.h"

namespace {

WString Q(const WString& text) { return u"'" + text + u"'"; }
WString Num(int64_t value) { return WString().AppendDecimal(value); }

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsHexDigit(char16_t c) { return HexDigitValue(c) >= 0; }

bool AllDigits(const WString& text) {
    for (int i = 0; i < text.Length(); ++i)
        if (!IsDigit(text[i])) return false;
    return true;
}

Array<WString> ListOf(const char16_t* const* list) {
    Array<WString> out;
    for (; *list; ++list) out.Add(WString(*list));
    return out;
}

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
    if (nearest != name && nearest.EqualsNoCase(name)) return u" (did you mean " + Q(nearest) + u"? names are case-sensitive)";
    return u" (did you mean " + Q(nearest) + u"?)";
}

// A strict decimal number: optional sign, digits, nothing else. *value is
// the value the chainer's lenient reading gives.
enum class NumberForm { kClean, kNoDigits, kTrailingText, kOutOfRange };

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

// Reports a number that the lenient reading takes differently from what it
// says; answers the value the chainer reads.
int32_t CheckNumber(const IniPair& pair, DiagnosticList* out) {
    int64_t value = 0;
    int32_t read = ParseLenientInt(pair.value);
    switch (ClassifyNumber(pair.value, &value)) {
        case NumberForm::kNoDigits:
            out->Warning(pair.line, pair.key + u"=" + pair.value + u" holds no number: it reads as " + Num(read));
            break;
        case NumberForm::kTrailingText:
            out->Warning(pair.line, pair.key + u" has text after its number: " + Q(pair.value) + u" reads as " +
                                        Num(read));
            break;
        case NumberForm::kOutOfRange:
            out->Warning(pair.line, pair.key + u"=" + pair.value + u" is out of range (32-bit): it reads as " +
                                        Num(read));
            break;
        default: break;
    }
    return read;
}

bool IsAbsolutePath(const WString& path) {
    return path.StartsWith(u"\\\\") || (path.Length() >= 2 && path[1] == u':');
}

// --- references -----------------------------------------------------------

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
        return WString(u"value");
    }
    WString RegistryValue(const WString& path, bool) override {
        registry.Add(path);
        return WString(u"value");
    }
};

const char16_t* const kRegistryRoots[] = {u"HKLM", u"HKEY_LOCAL_MACHINE", u"HKCU", u"HKEY_CURRENT_USER",
                                          u"HKCR", u"HKEY_CLASSES_ROOT", u"HKCC", u"HKEY_CURRENT_CONFIG",
                                          u"HKU", u"HKEY_USERS", nullptr};

// A registry path of a search (never found without a backslash) or of a
// reference (then it expands to nothing).
void CheckRegistryPath(const IniPair& pair, const WString& path, DiagnosticList* out, bool reference = false) {
    int slash = path.FindChar(u'\\');
    if (slash < 0) {
        if (reference)
            out->Warning(pair.line, u"registry reference !" + path + u"! has no backslash: it expands to nothing");
        else
            out->Error(pair.line, u"registry path " + Q(path) + u" has no backslash: it names no key and is never found");
        return;
    }
    WString root = path.Left(slash);
    for (const char16_t* const* r = kRegistryRoots; *r; ++r)
        if (root.EqualsNoCase(*r)) return;
    out->Warning(pair.line, u"registry root " + Q(root) + u" is unknown: HKEY_USERS is used" +
                                DidYouMean(root, ListOf(kRegistryRoots)));
}

// How the chainer treats the references in a value.
enum class Expansion {
    kAll,             // folder properties, environment variables, registry values
    kUrl,             // all three, in a URL (where "%20" and the like are common)
    kFolderProperties,  // command lines of setups: only [...] is resolved
    kNone,            // used exactly as written
};

bool LooksLikePercentEscape(const WString& name) {
    return name.Length() >= 2 && IsHexDigit(name[0]) && IsHexDigit(name[1]);
}

// References of a configured path or command line: folder properties that
// do not exist, openers without their closer, registry roots, references
// where nothing expands them.
void CheckReferences(const IniPair& pair, DiagnosticList* out, Expansion expansion = Expansion::kAll) {
    const WString& text = pair.value;
    if (expansion == Expansion::kNone) {
        if (text.FindFirstOf(u"[%!") >= 0)
            out->Warning(pair.line, pair.key + u" is used as written: references ([...], %...%, !...!) are not expanded in it");
        return;
    }
    RecordingResolver recorder;
    ExpandReferences(text, false, recorder);
    for (const WString& name : recorder.folders) {
        if (IsInList(kFolderPropertyNames, name)) continue;
        out->Warning(pair.line, u"unknown folder property [" + name + u"] stays in the text" +
                                    DidYouMean(name, ListOf(kFolderPropertyNames)));
    }
    if (expansion == Expansion::kFolderProperties) {
        for (const WString& name : recorder.variables)
            out->Warning(pair.line, u"%" + name + u"% is not expanded in a setup's command line: it is passed as written");
        for (const WString& path : recorder.registry)
            out->Warning(pair.line, u"!" + path + u"! is not expanded in a setup's command line: it is passed as written");
    } else {
        for (const WString& name : recorder.variables)
            if (expansion == Expansion::kUrl && LooksLikePercentEscape(name))
                out->Warning(pair.line, u"%" + name + u"% is read as an environment variable and replaced by its value "
                                        u"(escape sequences such as %20 are not kept in a Url)");
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
                out->Warning(pair.line, u"unclosed " + Q(WString(&opener, 1)) + u" in " + pair.key +
                                            u": the text from it on is used as written");
            break;
        }
        i = text.FindFirstOf(u"[%!", close + 1);
    }
}

// --- the checker ----------------------------------------------------------

class Checker {
public:
    Checker(const IniDocument& document, const WString& text, const CheckOptions& options, DiagnosticList* out)
        : doc_(document), text_(text), options_(options), out_(out) {}

    void Run() {
        CheckLines();
        CheckSections();
        CheckGeneralOptions();
        CheckPrerequisiteList();
        CheckChainerSettings();
    }

private:
    const IniPair* Key(const IniSection* section, const char16_t* key) const {
        return section ? section->FindValue(WString(key)) : nullptr;
    }

    // Lines the parser did not take as a header or a pair.
    void CheckLines() {
        Array<bool> used;
        Array<WString> lines;
        const char16_t* s = text_.c_str();
        int length = text_.Length(), start = 0;
        while (start < length) {
            int end = text_.Find(u"\r\n", start);
            if (end < 0) end = length;
            lines.Add(WString(s + start, end - start));
            used.Add(false);
            start = end + 2;
        }
        int firstSection = 0;
        for (const IniSection& section : doc_.Sections()) {
            if (section.Line() > 0 && section.Line() <= used.Size()) used[section.Line() - 1] = true;
            if (!firstSection) firstSection = section.Line();
            for (const IniPair& pair : section.Pairs())
                if (pair.line > 0 && pair.line <= used.Size()) used[pair.line - 1] = true;
        }
        for (int i = 0; i < lines.Size(); ++i) {
            const WString& line = lines[i];
            int first = i == 0 && line.Length() > 0 && line[0] == 0xFEFF ? 1 : 0;
            while (first < line.Length() && line[first] <= 0x20) ++first;
            if (first == line.Length() || used[i]) continue;
            const int number = i + 1;
            if (line[first] == u';' || line[first] == u'#') {
                out_->Note(number, WString(u"there are no comments: this line is ignored only because it has no \"=\""));
            } else if (!firstSection || number < firstSection) {
                out_->Warning(number, WString(u"text before the first section is ignored"));
            } else if (line[first] == u'[') {
                out_->Warning(number, WString(u"not a section header (text after the closing \"]\"): the line is ignored"));
            } else {
                out_->Warning(number, WString(u"line without \"=\" is ignored"));
            }
        }
    }

    bool IsListedApp(const WString& name) const {
        const IniSection* list = doc_.FindSection(WString(u"PREREQUISITES"));
        WString base;
        return list && NumberedKeyIndex(name, &base) > 0 && base == u"App" && list->FindValue(name);
    }

    Array<WString> KnownSectionNames() const {
        Array<WString> names = ListOf(kSectionNames);
        if (const IniSection* list = doc_.FindSection(WString(u"PREREQUISITES")))
            for (const IniPair& pair : list->Pairs()) names.Add(pair.key);
        return names;
    }

    void CheckSections() {
        const Array<IniSection>& sections = doc_.Sections();
        for (int i = 0; i < sections.Size(); ++i) {
            const IniSection& section = sections[i];
            const WString& name = section.Name();
            const IniSection* first = doc_.FindSection(name);
            if (first != &section) {
                out_->Add(section.Line(), section.Pairs().IsEmpty() ? Severity::kWarning : Severity::kError,
                          u"section [" + name + u"] repeats the one at line " + Num(first->Line()) +
                              u": its keys are never read");
                continue;
            }
            WString base;
            bool known = IsInList(kSectionNames, name) || IsListedApp(name);
            if (!known && NumberedKeyIndex(name, &base) > 0 && base == u"App") {
                out_->Warning(section.Line(), u"section [" + name + u"] is never read: PREREQUISITES has no key " + name);
            } else if (!known && name != name.Trimmed()) {
                out_->Warning(section.Line(), u"blanks inside the brackets are part of the section name " + Q(name) +
                                                  u": it is never read" + DidYouMean(name.Trimmed(), KnownSectionNames()));
            } else if (!known) {
                out_->Warning(section.Line(), u"unknown section [" + name + u"] is never read" +
                                                  DidYouMean(name, KnownSectionNames()));
            }
            CheckKeys(section, known);
        }
    }

    void CheckKeys(const IniSection& section, bool known) {
        const WString& name = section.Name();
        for (const IniPair& pair : section.Pairs()) {
            const IniPair* first = section.FindValue(pair.key);
            if (first != &pair) {
                if (first->value == pair.value)
                    out_->Warning(pair.line, u"key " + pair.key + u" repeats line " + Num(first->line) +
                                                 u" with the same value");
                else
                    out_->Error(pair.line, u"key " + pair.key + u" repeats line " + Num(first->line) +
                                               u": this value (" + Q(pair.value) + u") is never read");
                continue;
            }
            if (!known) continue;
            if (pair.key.StartsWith(u";") || pair.key.StartsWith(u"#")) {
                out_->Warning(pair.line, u"there are no comments: this line sets the key " + Q(pair.key));
                continue;
            }
            Array<WString> candidates;
            bool valid = false;
            WString base;
            int k = NumberedKeyIndex(pair.key, &base);
            if (name == u"GeneralOptions") {
                valid = IsInList(kGeneralOptionKeys, pair.key);
                candidates = ListOf(kGeneralOptionKeys);
            } else if (name == u"PREREQ_CHAINER") {
                valid = IsInList(kChainerKeys, pair.key);
                candidates = ListOf(kChainerKeys);
            } else if (name == u"PREREQUISITES") {
                valid = k > 0 && base == u"App";
                candidates.Add(u"App" + Num(k > 0 ? k : ParseLenientInt(pair.key.Mid(3))));
            } else {
                valid = IsInList(kPrerequisiteKeys, pair.key) || (k > 0 && IsInList(kSearchKeyBases, base));
                candidates = ListOf(kPrerequisiteKeys);
                if (k > 0)
                    for (const char16_t* const* b = kSearchKeyBases; *b; ++b) candidates.Add(WString(*b) + Num(k));
            }
            if (!valid)
                out_->Warning(pair.line, u"unknown key " + Q(pair.key) + u" is never read" +
                                             DidYouMean(pair.key, candidates));
        }
    }

    void CheckOptionLetters(const IniPair& pair, const char16_t* letters, const WString& meaning) {
        for (int i = 0; i < pair.value.Length(); ++i) {
            char16_t c = pair.value[i];
            if (WString(letters).Contains(c) || c == u' ') continue;
            WString message = u"option letter " + Q(WString(&c, 1)) + u" means nothing here";
            char16_t lower = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : 0;
            char16_t upper = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : 0;
            if (lower && WString(letters).Contains(lower))
                message += u" (letters are case-sensitive: did you mean " + Q(WString(&lower, 1)) + u"?)";
            else if (upper && WString(letters).Contains(upper))
                message += u" (letters are case-sensitive: did you mean " + Q(WString(&upper, 1)) + u"?)";
            out_->Warning(pair.line, message + u"; " + meaning);
        }
    }

    void CheckGeneralOptions() {
        const IniSection* section = doc_.FindSection(WString(u"GeneralOptions"));
        LoadGeneralOptions(doc_, &general_);
        const IniPair* options = Key(section, u"Options");
        if (options) CheckOptionLetters(*options, u"qb", WString(u"only q (silent) and b (basic UI) count"));
        if (!general_.Options.Contains(u'q') && !general_.Options.Contains(u'b'))
            out_->Note(options ? options->line : section ? section->Line() : 0,
                       WString(u"neither \"q\" nor \"b\" in Options: a run only evaluates and installs nothing"));
        if (const IniPair* keep = Key(section, u"KeepFiles")) {
            if (keep->value != u"complete" && keep->value != u"minimum" && keep->value != u"prereqs") {
                Array<WString> words;
                words.Add(u"complete");
                words.Add(u"minimum");
                words.Add(u"prereqs");
                out_->Warning(keep->line, u"KeepFiles " + Q(keep->value) +
                                              u" is not complete, minimum or prereqs: it reads as 0 (downloads are deleted)" +
                                              DidYouMean(keep->value, words));
            }
        }
        for (const char16_t* flag : {u"PackJars", u"AllPlatforms", u"Is64PlatformTransf"}) {
            const IniPair* pair = Key(section, flag);
            if (pair && !pair->value.EqualsNoCase(u"true") && !pair->value.EqualsNoCase(u"false"))
                out_->Warning(pair->line, pair->key + u"=" + pair->value + u" is not \"true\": it reads as false");
        }
        if (const IniPair* stub = Key(section, u"ExtUIStub"))
            if (stub->value.EqualsNoCase(u"false") || stub->value == u"0")
                out_->Warning(stub->line, u"ExtUIStub=" + stub->value + u" reads as true (any value that is not empty)");
        for (const char16_t* key : {u"DownloadFolder", u"ExtractionFolder"})
            if (const IniPair* pair = Key(section, key)) CheckReferences(*pair, out_);
    }

    // Names of the prerequisites from App<from> on, as PREREQUISITES lists them.
    WString NamesFrom(int from) const {
        Array<WString> names;
        const IniSection* list = doc_.FindSection(WString(u"PREREQUISITES"));
        if (!list) return WString();
        for (int n = from; n <= maxApp_; ++n)
            if (const IniPair* pair = list->FindValue(u"App" + Num(n))) names.Add(Q(pair->value));
        return Joined(names, u", ");
    }

    void CheckPrerequisiteList() {
        const IniSection* list = doc_.FindSection(WString(u"PREREQUISITES"));
        if (!list) {
            for (const IniSection& section : doc_.Sections()) {
                WString base;
                if (NumberedKeyIndex(section.Name(), &base) > 0 && base == u"App") {
                    out_->Error(section.Line(), WString(u"there is no section [PREREQUISITES]: no prerequisite is loaded"));
                    break;
                }
            }
            return;
        }
        for (const IniPair& pair : list->Pairs()) {
            WString base;
            int n = NumberedKeyIndex(pair.key, &base);
            if (n > 0 && base == u"App" && n > maxApp_) maxApp_ = n;
        }
        // The chainer's own loader decides how far the list goes.
        int loaded = 0;
        for (int n = 1; n <= maxApp_ + 1; ++n) {
            Prerequisite record;
            if (!LoadPrerequisiteDefinition(doc_, n, &record)) break;
            loaded = n;
            records_.Add(record);
        }
        const int failing = loaded + 1;
        if (failing <= maxApp_) ExplainEnd(*list, failing);
        for (int n = 1; n <= maxApp_; ++n) {
            const IniSection* section = doc_.FindSection(u"App" + Num(n));
            const IniPair* listed = list->FindValue(u"App" + Num(n));
            if (section && listed) CheckPrerequisite(*section, listed->value, n <= loaded);
        }
        CheckNamesAndParents();
    }

    void ExplainEnd(const IniSection& list, int n) {
        const WString key = u"App" + Num(n);
        const IniPair* listed = list.FindValue(key);
        if (!listed) {
            int next = n + 1;
            while (!list.FindValue(u"App" + Num(next))) ++next;
            const IniPair* later = list.FindValue(u"App" + Num(next));
            out_->Error(later->line, key + u" is missing from PREREQUISITES: the list ends there; never loaded: " + NamesFrom(next));
            return;
        }
        const IniSection* section = doc_.FindSection(key);
        WString lost = u"; never loaded: " + NamesFrom(n);
        if (!section) {
            out_->Error(listed->line, u"there is no section [" + key + u"] for " + Q(listed->value) +
                                          u": the list ends here" + lost);
            return;
        }
        if (!Key(section, u"SetupFile") && !Key(section, u"OpenSite") && !Key(section, u"Url")) {
            out_->Error(section->Line(), u"[" + key + u"] has no SetupFile, OpenSite or Url: the list ends here" + lost);
            return;
        }
        for (int k = 1;; ++k) {
            const IniPair* type = section->FindValue(u"SearchType" + Num(k));
            if (!type) break;
            if (!section->FindValue(u"SearchString" + Num(k))) {
                out_->Error(type->line, u"SearchType" + Num(k) + u" has no SearchString" + Num(k) +
                                            u": the list ends here" + lost);
                return;
            }
        }
    }

    void CheckVersionText(const IniPair* pair, VersionValue* value) {
        if (!pair || pair->value.IsEmpty()) return;
        bool parsed = false;
        *value = ParseVersion(pair->value, &parsed);
        if (parsed) return;
        bool digits = pair->value.FindFirstOf(u"0123456789") >= 0;
        out_->Warning(pair->line, pair->key + u"=" + pair->value +
                                      (digits ? WString(u" overflows (a part above 2147483647): it sets no bound")
                                              : WString(u" holds no digits: it sets no bound")));
    }

    void CheckRange(const IniPair* minPair, const IniPair* maxPair) {
        VersionValue minimum, maximum;
        CheckVersionText(minPair, &minimum);
        CheckVersionText(maxPair, &maximum);
        if (!minimum.IsZero() && !maximum.IsZero() && CompareVersions(minimum, maximum) > 0)
            out_->Error(minPair->line, minPair->key + u" " + FormatVersion(minimum) + u" is above " + maxPair->key +
                                           u" " + FormatVersion(maximum) + u": no version is ever acceptable");
    }

    void CheckOsList(const IniPair* pair, bool sixtyFour) {
        if (!pair || pair->value.IsEmpty()) return;
        if (pair->value == u"Windows XP/Vista/Windows 7/Windows 8 x64/Windows 8.1 x64/Windows 10 x64/Windows 11 x64" ||
            pair->value == u"Windows 9x/ME/NT/2000/XP/Vista/Windows 7/Windows 8 x86/Windows 8.1 x86/Windows 10 x86") {
            out_->Note(pair->line, pair->key + u" names every Windows: the prerequisite is never evaluated on " +
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
                    out_->Warning(pair->line, Q(entry) + u" in WinNTVersions never matches: a 64-bit Windows reads only WinNT64Versions");
                else if (sixtyFour && entry.EndsWith(u" x86"))
                    out_->Warning(pair->line, Q(entry) + u" in WinNT64Versions never matches: it names a 32-bit Windows");
                continue;
            }
            if (entry.Contains(u',')) {
                out_->Warning(pair->line, u"entries separated by a comma alone form one entry " + Q(entry) +
                                              u" that excludes nothing (separate them with \", \")");
                continue;
            }
            unknown = true;
            out_->Warning(pair->line, u"no Windows is ever called " + Q(entry) + u": it excludes nothing" +
                                          DidYouMean(entry, names));
        }
        if (unknown && !osNamesListed_) {
            osNamesListed_ = true;
            out_->Note(pair->line, u"the names Windows is given: " + Joined(names, u", "));
        }
    }

    void CheckLanguageList(const IniPair* pair) {
        if (!pair) return;
        const WString& text = pair->value;
        int start = 0;
        while (start < text.Length()) {
            int end = text.FindChar(u';', start);
            if (end < 0) end = text.Length();
            WString entry = text.Substr(start, end - start);
            start = end + 1;
            int64_t value = 0;
            WString trimmed = entry.Trimmed();
            if (ClassifyNumber(trimmed, &value) != NumberForm::kClean || value < 0 || value > 0xFFFF)
                out_->Warning(pair->line, u"LanguageList entry " + Q(entry) + u" is not a language number (it reads as " +
                                              Num(ParseLenientInt(entry) & 0xFFFF) + u")");
        }
    }

    void CheckUrl(const IniSection& section, const IniPair& location, bool download) {
        const WString& url = location.value;
        int scheme = url.Find(u"://");
        if (scheme < 0) {
            if (!url.StartsWith(u"\\\\"))
                out_->Warning(location.line, location.key + u" " + Q(url) +
                                                 u" has no scheme (http://, https://, ftp://, file://)");
        } else {
            WString name = url.Left(scheme);
            if (!name.EqualsNoCase(u"http") && !name.EqualsNoCase(u"https") && !name.EqualsNoCase(u"ftp") &&
                !name.EqualsNoCase(u"file"))
                out_->Warning(location.line, u"URL scheme " + Q(name) + u" is not http, https, ftp or file");
        }
        CheckReferences(location, out_, Expansion::kUrl);
        if (!download || IsLocalUrl(url)) return;
        const IniPair* folder = Key(&section, u"Folder");
        if (folder) {
            int q = folder->value.FindChar(u'?');
            if (q >= 0 && q + 1 < folder->value.Length()) return;  // the name is given
        }
        WString name = FileNameFromUrl(url);
        int query = url.FindFirstOf(u"?#");
        WString path = query < 0 ? url : url.Left(query);
        int slash = path.FindLastChar(u'/');
        WString segment = path.Mid(slash + 1);
        if (name.IsEmpty()) {
            out_->Error(location.line, u"the download of " + Q(url) +
                                           u" gets no file name: name it in Folder (subfolder?name.exe)");
        } else if (name != segment && segment.Length() > 41 && segment.EndsWith(name.c_str())) {
            out_->Warning(location.line, u"the downloaded file name is cut to its last 41 characters: " + Q(name) +
                                             u" (name it in Folder: subfolder?name.exe)");
        } else if (name != segment) {
            out_->Warning(location.line, u"the download is saved as " + Q(name) + u", not " + Q(segment) +
                                             u" (name it in Folder: subfolder?name.exe)");
        }
    }

    static bool IsLocalUrl(const WString& url) {
        return url.StartsWithNoCase(u"file:///") || url.StartsWithNoCase(u"file://");
    }

    void CheckPrerequisite(const IniSection& section, const WString& displayName, bool loaded) {
        const IniPair* setup = Key(&section, u"SetupFile");
        const IniPair* site = Key(&section, u"OpenSite");
        const IniPair* url = Key(&section, u"Url");
        const IniPair* location = setup ? setup : site ? site : url;
        if ((setup != nullptr) + (site != nullptr) + (url != nullptr) > 1) {
            for (const IniPair* other : {site, url})
                if (other && other != location)
                    out_->Warning(other->line, other->key + u" is never used: " + location->key +
                                                   u" comes first (SetupFile, then OpenSite, then Url)");
        }
        if (setup) {
            CheckReferences(*setup, out_, Expansion::kNone);
            if (!IsAbsolutePath(setup->value)) {
                if (general_.ExtractionFolder.IsEmpty())
                    out_->Warning(setup->line, u"relative SetupFile while ExtractionFolder is unset: it is looked for in "
                                               u"the temporary folder plus DefaultProdCode" +
                                                   (general_.DefaultProdCode.IsEmpty() ? WString(u" (unset)") : u" (" + general_.DefaultProdCode + u")") +
                                                   u", not beside the chainer (set ExtractionFolder=[SETUPEXEDIR])");
                CheckPackageFile(*setup, setup->value, u"SetupFile");
            }
        }
        if (site && site == location) CheckUrl(section, *site, false);
        if (url && url == location) CheckUrl(section, *url, true);
        for (const char16_t* key : {u"CommandLine", u"BasicUiCommandLine", u"NoUiCommandLine"})
            if (const IniPair* pair = Key(&section, key)) CheckReferences(*pair, out_, Expansion::kFolderProperties);
        if (const IniPair* options = Key(&section, u"Options"))
            CheckOptionLetters(*options, u"mixrR", WString(u"only m, i, x, r and R count"));
        if (const IniPair* size = Key(&section, u"ExactSize")) {
            if (CheckNumber(*size, out_) < 0) out_->Warning(size->line, WString(u"ExactSize is negative"));
        }
        if (const IniPair* md5 = Key(&section, u"MD5")) {
            bool hex = md5->value.Length() == 32;
            for (int i = 0; hex && i < 32; ++i) hex = IsHexDigit(md5->value[i]);
            if (!hex)
                out_->Error(md5->line, u"MD5 " + Q(md5->value) +
                                           u" is not 32 hexadecimal digits: every download is rejected");
        }
        int32_t op = 0;
        if (const IniPair* opPair = Key(&section, u"Operator")) {
            op = CheckNumber(*opPair, out_);
            if (op != 0 && op != 1)
                out_->Error(opPair->line, u"Operator " + Num(op) +
                                              u" is neither 0 (all) nor 1 (any): the searches are never found");
        }
        CheckRange(Key(&section, u"VerMin"), Key(&section, u"VerMax"));
        for (const char16_t* key : {u"VerMin", u"VerMax"})
            if (const IniPair* pair = Key(&section, key))
                out_->Warning(pair->line, pair->key + u" of a prerequisite bounds no search: use " + pair->key +
                                              u"1, " + pair->key + u"2, ... beside the searches");
        CheckOsList(Key(&section, u"WinNTVersions"), false);
        CheckOsList(Key(&section, u"WinNT64Versions"), true);
        CheckLanguageList(Key(&section, u"LanguageList"));
        CheckSearches(section);
        if (loaded && options_.files && url && url == location) CheckDownloadedFile(section, *url);
        (void)displayName;
    }

    void CheckSearches(const IniSection& section) {
        int count = 0;
        while (section.FindValue(u"SearchType" + Num(count + 1))) ++count;
        for (const IniPair& pair : section.Pairs()) {
            WString base;
            int k = NumberedKeyIndex(pair.key, &base);
            if (k <= count || !IsInList(kSearchKeyBases, base) || section.FindValue(pair.key) != &pair) continue;
            if (base == u"SearchType")
                out_->Error(pair.line, pair.key + u" is never read: the searches end at the missing SearchType" +
                                           Num(count + 1));
            else if (!section.FindValue(u"SearchType" + Num(k)))
                out_->Warning(pair.line, pair.key + u" is never read: there is no SearchType" + Num(k));
        }
        for (int k = 1; k <= count; ++k) {
            const IniPair* typePair = section.FindValue(u"SearchType" + Num(k));
            const IniPair* string = section.FindValue(u"SearchString" + Num(k));
            const IniPair* ref = section.FindValue(u"RefContent" + Num(k));
            const IniPair* minPair = section.FindValue(u"VerMin" + Num(k));
            const IniPair* maxPair = section.FindValue(u"VerMax" + Num(k));
            int32_t type = CheckNumber(*typePair, out_);
            if (type < 0 || type > 12) {
                out_->Error(typePair->line, u"SearchType " + Num(type) + u" is unknown: it looks for nothing and counts as found");
                continue;
            }
            const bool ranged = type <= 4 || type == 12;
            if (ranged) {
                CheckRange(minPair, maxPair);
            } else {
                for (const IniPair* pair : {minPair, maxPair})
                    if (pair && !pair->value.IsEmpty())
                        out_->Warning(pair->line, pair->key + u" is not used by SearchType " + Num(type));
            }
            if (!string) continue;
            const bool registry = type == 1 || type == 2 || (type >= 5 && type <= 9) || type == 12;
            if (registry) CheckRegistryPath(*string, string->value, out_);
            if (type == 0)
                CheckReferences(*string, out_);
            else
                CheckReferences(*string, out_, Expansion::kNone);
            if (type == 9) CheckContentReference(ref, typePair);
            if (type == 10) {
                if (ref && ref->value != u"WND_HIDE" && ref->value.EqualsNoCase(u"WND_HIDE"))
                    out_->Warning(ref->line, u"RefContent " + Q(ref->value) +
                                                 u" does not hide the window: only WND_HIDE in capitals does");
                if (const IniPair* args = section.FindValue(u"SearchCmdLine" + Num(k))) CheckReferences(*args, out_);
                if (general_.ExtractionFolder.IsEmpty())
                    out_->Warning(string->line, u"the program of SearchType 10 is looked for in the temporary folder plus "
                                                u"DefaultProdCode while ExtractionFolder is unset (set ExtractionFolder=[SETUPEXEDIR])");
                CheckPackageFile(*string, string->value, u"program");
            }
        }
    }

    void CheckContentReference(const IniPair* ref, const IniPair* typePair) {
        if (!ref || ref->value.IsEmpty()) {
            out_->Error(ref ? ref->line : typePair->line,
                        WString(u"SearchType 9 without a RefContent operator (C X S E M D G L): never found"));
            return;
        }
        char16_t op = ref->value[0];
        if (!WString(u"CXSEMDGL").Contains(op)) {
            out_->Error(ref->line, u"RefContent operator " + Q(WString(&op, 1)) +
                                       u" is not one of C X S E M D G L: never found");
            return;
        }
        if ((op == u'G' || op == u'L') && !AllDigits(ref->value.Mid(1)))
            out_->Error(ref->line, u"RefContent " + Q(ref->value) + u": " + WString(&op, 1) +
                                       u" compares decimal digits only, and the reference has other characters: never found");
    }

    void CheckPackageFile(const IniPair& pair, const WString& relative, const char16_t* what) {
        if (!options_.files || IsAbsolutePath(relative) || relative.FindFirstOf(u"[%!") >= 0) return;
        uint64_t size = 0;
        WString md5;
        if (!options_.files->Describe(relative, &size, &md5))
            out_->Error(pair.line, WString(what) + u" " + Q(relative) + u" is not among the package's files");
    }

    void CheckDownloadedFile(const IniSection& section, const IniPair& url) {
        WString folder;
        if (const IniPair* f = Key(&section, u"Folder")) folder = f->value;
        WString target = DownloadTargetPath(WString(), url.value, folder);
        if (target.IsEmpty() || target.EndsWith(u"\\")) return;
        uint64_t size = 0;
        WString md5;
        if (!options_.files->Describe(target, &size, &md5)) {
            out_->Note(url.line, u"the download " + Q(target) + u" is not in the files folder: its size and MD5 are not compared");
            return;
        }
        const IniPair* sizePair = Key(&section, u"ExactSize");
        if (sizePair && ParseLenientInt(sizePair->value) != 0 &&
            static_cast<uint32_t>(ParseLenientInt(sizePair->value)) != static_cast<uint32_t>(size))
            out_->Error(sizePair->line, u"ExactSize " + sizePair->value + u" differs from the file " + Q(target) +
                                            u": ExactSize=" + WString().AppendUnsigned(size));
        const IniPair* md5Pair = Key(&section, u"MD5");
        if (md5Pair && !md5Pair->value.IsEmpty() && !md5Pair->value.EqualsNoCase(md5))
            out_->Error(md5Pair->line, u"MD5 differs from the file " + Q(target) + u": MD5=" + md5);
        if (!sizePair && !md5Pair)
            out_->Note(url.line, u"the download " + Q(target) + u" is not checked; to check it add ExactSize=" +
                                     WString().AppendUnsigned(size) + u" and MD5=" + md5);
        if (size > 0xFFFFFFFFull) out_->Error(url.line, u"the file " + Q(target) + u" is 4 GiB or larger: not supported");
    }

    void CheckNamesAndParents() {
        for (int i = 0; i < records_.Size(); ++i) {
            const Prerequisite& p = records_[i];
            const IniSection* section = doc_.FindSection(u"App" + Num(i + 1));
            for (int j = 0; j < i; ++j) {
                if (records_[j].Name == p.Name) {
                    const IniPair* listed = doc_.FindSection(WString(u"PREREQUISITES"))->FindValue(u"App" + Num(i + 1));
                    out_->Warning(listed->line, u"App" + Num(i + 1) + u" has the same name as App" + Num(j + 1) + u" (" +
                                                    Q(p.Name) + u"): ParentPrereq finds only the first");
                    break;
                }
            }
            if (p.ParentPrereq.IsEmpty()) continue;
            bool found = false;
            Array<WString> names;
            for (const Prerequisite& other : records_) {
                found = found || other.Name == p.ParentPrereq;
                names.Add(other.Name);
            }
            if (!found) {
                const IniPair* parent = Key(section, u"ParentPrereq");
                out_->Warning(parent->line, u"ParentPrereq " + Q(p.ParentPrereq) + u" names no prerequisite" +
                                                DidYouMean(p.ParentPrereq, names));
            }
        }
    }

    void CheckChainerSettings() {
        const IniSection* section = doc_.FindSection(WString(u"PREREQ_CHAINER"));
        if (!section) return;
        out_->Note(section->Line(), WString(u"with a PREREQ_CHAINER section the chainer deletes this INI file at the end "
                                            u"of every run: test with corvane-check --plan or on a copy"));
        const IniPair* folders = Key(section, u"CleanupFolders");
        if (folders && folders->value.EndsWith(u"\\"))
            out_->Warning(folders->line, WString(u"CleanupFolders ends with a backslash: the upward walk from the "
                                                 u"chainer's folder never meets it"));
        if (const IniPair* files = Key(section, u"CleanupFiles")) {
            const WString& text = files->value;
            int start = 0;
            while (start < text.Length()) {
                int end = text.FindChar(u'\x01', start);
                if (end < 0) end = text.Length();
                WString entry = text.Substr(start, end - start);
                start = end + 1;
                if (entry.IsEmpty()) continue;
                if (!IsAbsolutePath(entry))
                    out_->Warning(files->line, u"CleanupFiles entry " + Q(entry) + u" is relative: it is never deleted");
                else if (!folders || folders->value.IsEmpty() || !entry.StartsWith(folders->value))
                    out_->Warning(files->line, u"CleanupFiles entry " + Q(entry) +
                                                   u" is not inside CleanupFolders: it is never deleted");
            }
        }
        for (const char16_t* key : {u"LogFile", u"CleanupScript", u"CleanupFolders", u"CleanupFiles"})
            if (const IniPair* pair = Key(section, key)) CheckReferences(*pair, out_, Expansion::kNone);
    }

    static const char16_t* const kSectionNames[];

    const IniDocument& doc_;
    const WString& text_;
    const CheckOptions& options_;
    DiagnosticList* out_;
    GeneralOptions general_;
    Array<Prerequisite> records_;
    int maxApp_ = 0;
    bool osNamesListed_ = false;
};

const char16_t* const Checker::kSectionNames[] = {u"GeneralOptions", u"PREREQUISITES", u"PREREQ_CHAINER", nullptr};

// --- the file's form --------------------------------------------------------

bool LooksLikeUtf16Le(const uint8_t* bytes, size_t size) {
    size_t pairs = 0, wide = 0;
    for (size_t i = 0; i + 1 < size && pairs < 256; i += 2, ++pairs)
        wide += bytes[i + 1] == 0 && bytes[i] != 0;
    return pairs > 0 && wide * 4 >= pairs * 3;
}

WString Utf16Text(const uint8_t* bytes, size_t size, bool bigEndian) {
    WString text;
    for (size_t i = 0; i + 1 < size; i += 2)
        text.Append(static_cast<char16_t>(bigEndian ? (bytes[i] << 8 | bytes[i + 1]) : (bytes[i] | bytes[i + 1] << 8)));
    return text;
}

WString WithCrLf(const WString& text) {
    WString out;
    for (int i = 0; i < text.Length(); ++i) {
        char16_t c = text[i];
        if (c == u'\r') {
            out.Append(u"\r\n");
            if (i + 1 < text.Length() && text[i + 1] == u'\n') ++i;
        } else if (c == u'\n') {
            out.Append(u"\r\n");
        } else {
            out.Append(c);
        }
    }
    return out;
}

}  // namespace

WString TextFromUtf8File(const uint8_t* bytes, size_t size, bool* valid) {
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        bytes += 3;
        size -= 3;
    }
    return FromUtf8(reinterpret_cast<const char*>(bytes), size, valid);
}

void ChainerFormBytes(const WString& text, Array<uint8_t>* bytes) {
    WString lines = WithCrLf(text);
    if (!lines.IsEmpty() && !lines.EndsWith(u"\r\n")) lines.Append(u"\r\n");
    bytes->Clear();
    bytes->Add(0xFF);
    bytes->Add(0xFE);
    for (int i = 0; i < lines.Length(); ++i) {
        bytes->Add(static_cast<uint8_t>(lines[i] & 0xFF));
        bytes->Add(static_cast<uint8_t>(lines[i] >> 8));
    }
}

void CheckConfigurationText(const WString& text, const CheckOptions& options, DiagnosticList* out) {
    IniDocument document;
    document.Parse(text);
    Checker(document, text, options, out).Run();
}

DiagnosticList CheckConfigurationFile(const uint8_t* bytes, size_t size, const CheckOptions& options) {
    DiagnosticList out;
    if (size < 2) {
        out.Error(0, WString(u"the file is empty: the chainer finds nothing to do"));
        return out;
    }
    WString text;
    bool converted = true;
    const WString how = u" (write it with corvane-check --write)";
    if (bytes[0] == 0xFF && bytes[1] == 0xFE) {
        text = ConfigurationTextFromBytes(bytes, size);
        converted = false;
    } else if (bytes[0] == 0xFE && bytes[1] == 0xFF) {
        out.Error(0, u"the file is UTF-16 big-endian: the chainer reads UTF-16LE and finds no usable text" + how);
        text = Utf16Text(bytes + 2, size - 2, true);
    } else if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        out.Error(0, u"the file is UTF-8: the chainer reads UTF-16LE and finds no usable text" + how);
        text = TextFromUtf8File(bytes, size, nullptr);
    } else if (LooksLikeUtf16Le(bytes, size)) {
        text = Utf16Text(bytes, size, false);
        out.Error(1, u"the file has no byte-order mark: the first two bytes are always skipped, so the first character (" +
                         Q(text.Left(1)) + u") is lost" + how);
    } else {
        bool valid = false;
        text = TextFromUtf8File(bytes, size, &valid);
        if (!valid) {
            text.Clear();
            for (size_t i = 0; i < size; ++i) text.Append(static_cast<char16_t>(bytes[i]));
        }
        out.Error(0, (valid ? WString(u"the file is UTF-8") : WString(u"the file is ANSI (8-bit) text")) +
                         u": the chainer reads UTF-16LE and finds no usable text" + how);
    }
    if (size % 2 && !converted)
        out.Warning(0, WString(u"the file has an odd number of bytes: the last byte is never read"));

    int crlf = 0, lf = 0, cr = 0;
    for (int i = 0; i < text.Length(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.Length() && text[i + 1] == u'\n') {
            ++crlf;
            ++i;
        } else if (text[i] == u'\n') {
            if (crlf) out.Warning(crlf + 1, WString(u"a lone LF stays inside the line: only CR LF ends a line"));
            ++lf;
        } else if (text[i] == u'\r') {
            if (crlf) out.Warning(crlf + 1, WString(u"a lone CR stays inside the line: only CR LF ends a line"));
            ++cr;
        }
    }
    if (!crlf && (lf || cr)) {
        out.Error(0, WString(lf && cr ? u"the file has LF and CR line ends" : lf ? u"the file has LF-only line ends"
                                                                                : u"the file has CR-only line ends") +
                         u": only CR LF ends a line, so the chainer sees a single line" + how);
        converted = true;
    }
    if (converted) {
        out.Note(0, WString(u"the rest is checked as the file reads once written with corvane-check --write"));
        if (!crlf || lf || cr) text = WithCrLf(text);
    }
    CheckConfigurationText(text, options, &out);
    out.SortByLine();
    return out;
}

// The searches of one prerequisite: the numbered keys, what each search type
// reads of them, and the searches whose answer cannot depend on the machine
// (handed to the prediction of the run, which tells what that does to the
// prerequisite).
#include "check/check_context.h"
#include "check/check_tables.h"
#include "config/ini_schema.h"
#include "evaluation/search_rules.h"
#include "evaluation/version.h"
#include "platform/path_rules.h"

namespace {

WString TypeName(int32_t code, const SearchTypeSchema& type) {
    return u"SearchType " + Decimal(code) + u" (" + WString().AppendAscii(type.name) + u")";
}

// Why a type 9 search is never found, or empty.
WString ContentReferenceFault(const IniPair* ref) {
    if (!ref || ref->value.IsEmpty())
        return WString(u"SearchType 9 without a RefContent operator (C X S E M D G L): never found");
    char16_t op = ref->value[0];
    if (!WString(u"CXSEMDGL").Contains(op)) {
        WString message = u"RefContent operator " + Quoted(WString(&op, 1)) + u" is not one of C X S E M D G L: never found";
        if (op >= u'a' && op <= u'z' && WString(u"CXSEMDGL").Contains(static_cast<char16_t>(op - 32)))
        {
            const char16_t upper = static_cast<char16_t>(op - 32);
            message += u" (operators are capitals: " + WString(&upper, 1) + ref->value.Mid(1) + u")";
        }
        return message;
    }
    if ((op == u'G' || op == u'L') && !AllDigits(ref->value.Mid(1)))
        return u"RefContent " + Quoted(ref->value) + u": " + WString(&op, 1) +
               u" compares decimal digits only, and the reference has other characters: never found";
    return WString();
}

// A product, upgrade or component code: a GUID in braces, as Windows
// Installer keeps them ({8-4-4-4-12 hexadecimal digits}).
bool IsGuidInBraces(const WString& text) {
    if (text.Length() != 38 || text[0] != u'{' || text[37] != u'}') return false;
    for (int i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != u'-' : HexDigitValue(text[i]) < 0) return false;
    }
    return true;
}

// Why a registry search is the same on every machine, or empty: a path
// without a backslash names no key, and a root the chainer does not know
// reads HKEY_USERS, whose subkeys are user SIDs and .DEFAULT.
WString RegistryPathFault(const WString& path, bool* unknownRoot) {
    *unknownRoot = false;
    const int slash = path.FindChar(u'\\');
    if (slash < 0)
        return u"registry path " + Quoted(path) + u" has no backslash: it names no key" +
               (path.Contains(u'/') ? WString(u" (the chainer separates keys with backslashes only)") : WString());
    const WString root = path.Left(slash);
    if (IsRegistryRoot(root)) return WString();
    *unknownRoot = true;
    const WString rest = path.Mid(slash + 1);
    if (rest.StartsWithNoCase(u"S-1-") || rest.StartsWithNoCase(u".DEFAULT")) return WString();
    return u"registry root " + Quoted(root) + u" is unknown: the chainer reads HKEY_USERS\\" + rest +
           u", which no Windows has" + DidYouMean(root, RegistryRoots());
}

// Why a file version search is never found, or empty.
WString FileSearchFault(const WString& string, bool bounded) {
    WString path, suffix;
    SplitDepthSuffix(string, &path, &suffix);
    if (!IsPathLikeFileSearch(path) && path.Length() >= 2 && path[1] == u':')
        return u"SearchString " + Quoted(path) + u" has no backslash: the chainer takes it for a bare file name and looks "
               u"for it in the root of every fixed drive (C:\\" + path + u"), where no such file can be; write the path with backslashes";
    // A trailing backslash, or a folder property that ends the path (its value ends with one).
    const int open = path.FindLastChar(u'[');
    if (path.EndsWith(u"\\") ||
        (path.EndsWith(u"]") && open >= 0 && IsInList(kFolderPropertyNames, path.Substr(open + 1, path.Length() - open - 2))))
        return u"SearchString " + Quoted(path) + u" names a folder: the search looks for a file and is never found "
               u"(name the file whose version counts)";
    const WString name = path.Mid(path.FindLastChar(u'\\') + 1);
    if (bounded && name.FindFirstOf(u"*?") >= 0)
        return u"SearchString " + Quoted(path) + u" has a wildcard: a matching file is found, but its version is read "
               u"from the name with the wildcard, which gives 0.0.0.0, so no version bound is ever met";
    return WString();
}

}  // namespace

bool IsUnreadSearchKey(const WString& key, WString* base, bool* misnumbered) {
    int start = key.Length();
    while (start > 0 && key[start - 1] >= u'0' && key[start - 1] <= u'9') --start;
    const WString stem = key.Left(start);
    const WString digits = key.Mid(start);
    WString known;
    if (IsKnownKey(KeySet::kSearchBases, stem)) {
        if (!digits.IsEmpty() && digits[0] != u'0') return false;  // a well-formed key
        known = stem;
        *misnumbered = true;
    } else {
        if (digits.IsEmpty() || IsKnownKey(KeySet::kPrerequisite, key)) return false;
        known = NearestName(stem, KnownKeys(KeySet::kSearchBases));
        if (known.IsEmpty()) return false;
        *misnumbered = false;
    }
    *base = known;
    return true;
}

namespace {

void CheckUnreadSearchKeys(CheckContext* context, const IniSection& section, SectionFacts* facts) {
    for (const IniPair& pair : section.Pairs()) {
        if (section.FindValue(pair.key) != &pair) continue;
        WString base;
        bool misnumbered = false;
        if (!IsUnreadSearchKey(pair.key, &base, &misnumbered)) continue;
        WString message;
        if (misnumbered) {
            message = u"search keys are numbered from 1, without leading zeros: " + pair.key + u" is never read";
        } else {
            Array<WString> candidates;
            WString stem;
            const int k = NumberedKeyIndex(pair.key, &stem);
            for (const WString& b : KnownKeys(KeySet::kSearchBases)) candidates.Add(b + Decimal(k > 0 ? k : 1));
            message = u"unknown key " + Quoted(pair.key) + u" is never read" + DidYouMean(pair.key, candidates);
        }
        if (base == kSearchKeys[0].name && !facts->unreadSearchLine) {
            // The prediction says what that does to the prerequisite.
            facts->unreadSearchLine = pair.line;
            facts->unreadSearchKey = message;
            continue;
        }
        context->out->Warning(pair.line, "unknown-key", message);
    }
}

// Keys numbered past the searches the loader reads.
void CheckKeysPastTheEnd(DiagnosticList* out, const IniSection& section, int count) {
    for (const IniPair& pair : section.Pairs()) {
        WString base;
        int k = NumberedKeyIndex(pair.key, &base);
        if (k <= count || !IsKnownKey(KeySet::kSearchBases, base) || section.FindValue(pair.key) != &pair) continue;
        if (base == kSearchKeys[0].name)
            out->Error(pair.line, "list-end",
                       pair.key + u" is never read: the searches end at the missing SearchType" + Decimal(count + 1));
        else if (!section.FindValue(NumberedKey(kSearchKeys[0].name, k)))
            out->Warning(pair.line, "key-without-effect", pair.key + u" is never read: there is no SearchType" + Decimal(k));
    }
}

SearchFact& AddFact(SectionFacts* facts, int k, int line, SearchAnswer answer, const WString& message,
                    const char* rule = "fixed-search-result", Severity severity = Severity::kError) {
    SearchFact fact;
    fact.k = k;
    fact.line = line;
    fact.answer = answer;
    fact.message = message;
    fact.rule = rule;
    fact.severity = severity;
    facts->fixed.Add(fact);
    return facts->fixed[facts->fixed.Size() - 1];
}

}  // namespace

void CheckSearches(CheckContext* context, const IniSection& section, SectionFacts* facts) {
    DiagnosticList* out = context->out;
    int count = 0;
    while (section.FindValue(NumberedKey(kSearchKeys[0].name, count + 1))) ++count;
    facts->searchCount = count;
    CheckKeysPastTheEnd(out, section, count);
    CheckUnreadSearchKeys(context, section, facts);
    const IniPair* optionsPair = section.FindValue(WString(u"Options"));
    const WString options = optionsPair ? optionsPair->value : WString();
    auto CheckFileSearchView = [&](const IniPair* string, const WString& letters) {
        // The chainer is a 32-bit program: which folders its file search reads on 64-bit Windows.
        const WString& text = string->value;
        if (letters.Contains(u'x')) {
            for (const char16_t* folder : {u"[ProgramFilesFolder]", u"[ProgramFiles]", u"[CommonFilesFolder]",
                                           u"%ProgramFiles%", u"%CommonProgramFiles%"})
                if (text.Contains(folder)) {
                    out->Note(string->line, "value-read-differently",
                              WString(folder) + u" is a folder of the 32-bit Program Files (x86) on 64-bit Windows, also "
                              u"with x (x changes the registry view and System32, not this folder); for the 64-bit one write " +
                                  (WString(folder).Contains(u"Common") ? WString(u"%CommonProgramW6432%") : WString(u"[ProgramFiles64Folder]")));
                    break;
                }
        } else if (text.Contains(u"[System32Folder]") || text.Find(WString(u"\\System32\\")) >= 0 ||
                   text.Find(WString(u"\\system32\\")) >= 0) {
            out->Note(string->line, "value-read-differently",
                      string->key + u" reads SysWOW64 for System32 on 64-bit Windows (the chainer is a 32-bit program and "
                      u"file-system redirection is on without x): add x to Options to read the 64-bit System32");
        }
    };
    for (int k = 1; k <= count; ++k) {
        auto key = [&](const char16_t* base) { return section.FindValue(NumberedKey(base, k)); };
        const IniPair* typePair = key(u"SearchType");
        const IniPair* string = key(u"SearchString");
        const IniPair* ref = key(u"RefContent");
        const IniPair* args = key(u"SearchCmdLine");
        const IniPair* minPair = key(u"VerMin");
        const IniPair* maxPair = key(u"VerMax");
        const int32_t code = CheckNumber(*typePair, out);
        const SearchTypeSchema* type = FindSearchType(code);
        if (!type) {
            AddFact(facts, k, typePair->line, SearchAnswer::kAlwaysFound,
                    u"SearchType " + Decimal(code) + u" is unknown: it looks for nothing and counts as found "
                    u"(the types are 0 to 12)");
            continue;
        }
        const WString typeName = TypeName(code, *type);
        bool bounded = false;
        if (type->reads & kReadsRange) {
            const WString empty = CheckRange(minPair, maxPair, out);
            if (!empty.IsEmpty()) AddFact(facts, k, minPair->line, SearchAnswer::kNeverFound, empty);
            bounded = SearchRange(minPair ? minPair->value : WString(), maxPair ? maxPair->value : WString()).HasBound();
        } else {
            for (const IniPair* pair : {minPair, maxPair})
                if (pair && !pair->value.IsEmpty())
                    out->Warning(pair->line, "key-without-effect", pair->key + u" is not used by " + typeName +
                                                                       u": it compares no version");
        }
        if (ref && !ref->value.IsEmpty() && !(type->reads & kReadsRefContent))
            out->Warning(ref->line, "key-without-effect",
                         ref->key + u" is not read by " + typeName +
                             u": only type 9 compares a value's content and only type 10 reads WND_HIDE");
        if (args && !args->value.IsEmpty() && !(type->reads & kReadsSearchCmdLine))
            out->Warning(args->line, "key-without-effect",
                         args->key + u" is not read by " + typeName + u": only type 10 runs a program");
        if (!string) continue;
        const WString& text = string->value;
        const bool absence = code == kSearchRegistryKeyAbsent || code == kSearchRegistryValueAbsent;
        if (IsQuoted(text)) {
            AddFact(facts, k, string->line, absence ? SearchAnswer::kAlwaysFound : SearchAnswer::kNeverFound,
                    QuotedReading(*string, WString((type->reads & kStringIsRegistryKey) ? u"no registry key is so named"
                                                   : code == kSearchFileVersion || code == kSearchProgramExitCode
                                                       ? u"no file is so named"
                                                       : u"Windows Installer knows no such code") +
                                               u", so " + typeName +
                                               (absence ? u" is found on every machine" : u" is never found"),
                                  false),
                    "value-read-differently")
                .advice = QuotedAdvice(*string);
            continue;
        }
        if (type->reads & kStringIsRegistryKey) {
            bool unknownRoot = false;
            const WString fault = RegistryPathFault(text, &unknownRoot);
            // The types that test for absence are found where nothing is.
            if (!fault.IsEmpty())
                AddFact(facts, k, string->line, absence ? SearchAnswer::kAlwaysFound : SearchAnswer::kNeverFound,
                        fault + u"; " + typeName + (absence ? u" is found on every machine" : u" is never found"),
                        "registry-path");
            else if (unknownRoot)
                CheckRegistryPath(*string, text, out);
            if ((code == kSearchRegistryValueExists || code == kSearchRegistryValueAbsent) && text.EndsWith(u"\\"))
                out->Note(string->line, "registry-path",
                          string->key + u" ends with a backslash: it names the key's default (unnamed) value, which "
                          u"most keys do not have; to test the key itself use SearchType " +
                              Decimal(code == kSearchRegistryValueExists ? kSearchRegistryKeyExists : kSearchRegistryKeyAbsent));
        }
        CheckReferences(*string, out, (type->reads & kStringExpanded) ? Expansion::kAll : Expansion::kNone);
        if (code == kSearchFileVersion) {
            const WString fault = FileSearchFault(text, bounded);
            if (!fault.IsEmpty()) AddFact(facts, k, string->line, SearchAnswer::kNeverFound, fault, "value-read-differently");
            WString path, suffix;
            SplitDepthSuffix(text, &path, &suffix);
            if (fault.IsEmpty() && IsPathLikeFileSearch(path) && DependsOnCurrentFolder(path))
                out->Warning(string->line, "depends-on-current-folder",
                             string->key + u" " + Quoted(path) + u" is a relative path: it is looked for below the "
                             u"current folder, not on every fixed drive (a bare name is)");
        }
        if (code == kSearchFileVersion) CheckFileSearchView(string, options);
        if (code == kSearchMsiProductVersion || code == kSearchMsiUpgradeCodeVersions ||
            code == kSearchMsiComponentInstalled) {
            if (!IsGuidInBraces(text.Trimmed()))
                AddFact(facts, k, string->line, SearchAnswer::kNeverFound,
                        string->key + u" " + Quoted(text) + u" is not " +
                            (code == kSearchMsiProductVersion        ? WString(u"a product")
                             : code == kSearchMsiUpgradeCodeVersions ? WString(u"an upgrade")
                                                                     : WString(u"a component")) +
                            u" code in the form Windows Installer knows ({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, with "
                            u"the braces): the installer rejects it and " + typeName + u" is never found",
                        "value-read-differently");
        }
        if (code == kSearchRegistryValueVersion) {
            // A DWORD is read as its raw bytes: it never compares as a number.
            const WString name = text.Mid(text.FindLastChar(u'\\') + 1);
            bool numberBound = false;
            for (const IniPair* pair : {minPair, maxPair})
                numberBound = numberBound || (pair && pair->value.Length() >= 5 && AllDigits(pair->value));
            if (numberBound || name.EqualsNoCase(u"Release") || name.EqualsNoCase(u"Install") ||
                name.EqualsNoCase(u"Installed"))
                out->Note(string->line, "value-read-differently",
                          typeName + u" reads the value " + Quoted(name) + u" as a version text: a REG_DWORD (as " +
                              u"Release, Install and Installed usually are) is read as its raw bytes and never compares "
                              u"as a number; to compare a number use SearchType 9 with RefContent G<number> or L<number>");
        }
        if (code == kSearchRegistryValueContent) {
            const WString fault = ContentReferenceFault(ref);
            if (!fault.IsEmpty()) AddFact(facts, k, ref && !ref->value.IsEmpty() ? ref->line : typePair->line,
                                          SearchAnswer::kNeverFound, fault);
        }
        if (code == kSearchProgramExitCode) {
            if (ref && ref->value != u"WND_HIDE" && ref->value.EqualsNoCase(u"WND_HIDE"))
                out->Warning(ref->line, "value-read-differently",
                             u"RefContent " + Quoted(ref->value) + u" does not hide the window: only WND_HIDE in capitals does");
            if (args) CheckReferences(*args, out);
            if (context->general.ExtractionFolder.IsEmpty())
                out->Warning(string->line, "depends-on-temp-folder",
                             WString(u"the program of SearchType 10 is looked for in the temporary folder plus "
                                     u"DefaultProdCode while ExtractionFolder is unset (set ExtractionFolder=[SETUPEXEDIR])"));
            WString missing;
            if (IsAbsolutePath(text)) {
                AddFact(facts, k, string->line, SearchAnswer::kNeverFound,
                        u"the program of SearchType 10 is always looked for among the package's files: " + Quoted(text) +
                            u" becomes the extraction folder followed by " + Quoted(text) +
                            u", which cannot exist, so the search is never found (name a program of the package)",
                        "value-read-differently");
            } else if (CheckPackageFile(context, *string, text, u"program", &missing)) {
                facts->programMissing = true;
                AddFact(facts, k, string->line, SearchAnswer::kNeverFound, missing + u": it cannot start, so " + typeName +
                                                                                 u" is never found", "package-files");
            }
        }
    }
}

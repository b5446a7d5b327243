// The searches of one prerequisite: the numbered keys, what each search type
// reads of them, and the searches whose answer is fixed.
#include "check/check_context.h"
#include "check/check_tables.h"
#include "config/ini_schema.h"

namespace {

void CheckContentReference(DiagnosticList* out, const IniPair* ref, const IniPair& typePair) {
    if (!ref || ref->value.IsEmpty()) {
        out->Error(ref ? ref->line : typePair.line, "fixed-search-result",
                   WString(u"SearchType 9 without a RefContent operator (C X S E M D G L): never found"));
        return;
    }
    char16_t op = ref->value[0];
    if (!WString(u"CXSEMDGL").Contains(op)) {
        out->Error(ref->line, "fixed-search-result",
                   u"RefContent operator " + Quoted(WString(&op, 1)) + u" is not one of C X S E M D G L: never found");
        return;
    }
    if ((op == u'G' || op == u'L') && !AllDigits(ref->value.Mid(1)))
        out->Error(ref->line, "fixed-search-result",
                   u"RefContent " + Quoted(ref->value) + u": " + WString(&op, 1) +
                       u" compares decimal digits only, and the reference has other characters: never found");
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

}  // namespace

void CheckSearches(CheckContext* context, const IniSection& section) {
    DiagnosticList* out = context->out;
    int count = 0;
    while (section.FindValue(NumberedKey(kSearchKeys[0].name, count + 1))) ++count;
    CheckKeysPastTheEnd(out, section, count);
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
            out->Error(typePair->line, "fixed-search-result",
                       u"SearchType " + Decimal(code) + u" is unknown: it looks for nothing and counts as found");
            continue;
        }
        const WString typeName = u"SearchType " + Decimal(code) + u" (" + WString().AppendAscii(type->name) + u")";
        if (type->reads & kReadsRange) {
            CheckRange(minPair, maxPair, out);
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
        if (type->reads & kStringIsRegistryKey) CheckRegistryPath(*string, string->value, out);
        CheckReferences(*string, out, (type->reads & kStringExpanded) ? Expansion::kAll : Expansion::kNone);
        if (code == kSearchFileVersion) {
            int question = string->value.FindChar(u'?', 1);
            WString path = question < 0 ? string->value : string->value.Left(question);
            if (path.FindFirstOf(u"\\]%!") >= 0 && DependsOnCurrentFolder(path))
                out->Warning(string->line, "depends-on-current-folder",
                             string->key + u" " + Quoted(path) + u" is a relative path: it is looked for below the "
                             u"current folder, not on every fixed drive (a bare name is)");
        }
        if (code == kSearchRegistryValueContent) CheckContentReference(out, ref, *typePair);
        if (code == kSearchProgramExitCode) {
            if (ref && ref->value != u"WND_HIDE" && ref->value.EqualsNoCase(u"WND_HIDE"))
                out->Warning(ref->line, "value-read-differently",
                             u"RefContent " + Quoted(ref->value) + u" does not hide the window: only WND_HIDE in capitals does");
            if (args) CheckReferences(*args, out);
            if (context->general.ExtractionFolder.IsEmpty())
                out->Warning(string->line, "depends-on-temp-folder",
                             WString(u"the program of SearchType 10 is looked for in the temporary folder plus "
                                     u"DefaultProdCode while ExtractionFolder is unset (set ExtractionFolder=[SETUPEXEDIR])"));
            CheckPackageFile(context, *string, string->value, u"program");
        }
    }
}

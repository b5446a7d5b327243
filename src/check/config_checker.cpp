#include "check/config_checker.h"

#include "check/check_context.h"
#include "check/check_tables.h"
#include "config/ini_document.h"
#include "config/ini_path.h"
#include "config/ini_schema.h"
#include "config/prerequisite.h"

namespace {

// The file's layout: lines the parser does not take, sections and keys that
// are never read. The sections' own checks follow it.
class LayoutChecker {
public:
    LayoutChecker(const IniDocument& document, const WString& text, DiagnosticList* out)
        : doc_(document), text_(text), out_(out) {}

    void Run() {
        CheckLines();
        CheckSections();
    }

private:

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
                out_->Note(number, "ignored-line", WString(u"there are no comments: this line is ignored only because it has no \"=\""));
            } else if (!firstSection || number < firstSection) {
                out_->Warning(number, "ignored-line", WString(u"text before the first section is ignored"));
            } else if (line[first] == u'[') {
                out_->Warning(number, "ignored-line", WString(u"not a section header (text after the closing \"]\"): the line is ignored"));
            } else {
                out_->Warning(number, "ignored-line", WString(u"line without \"=\" is ignored"));
            }
        }
    }

    bool IsListedApp(const WString& name) const {
        const IniSection* list = doc_.FindSection(WString(kPrerequisitesSection));
        WString base;
        return list && NumberedKeyIndex(name, &base) > 0 && base == kAppKeyBase && list->FindValue(name);
    }

    Array<WString> KnownSectionNames() const {
        Array<WString> names = ListOf(kSectionNames);
        if (const IniSection* list = doc_.FindSection(WString(kPrerequisitesSection)))
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
                          "repeated-section", u"section [" + name + u"] repeats the one at line " + Decimal(first->Line()) +
                              u": its keys are never read");
                continue;
            }
            WString base;
            bool known = IsInList(kSectionNames, name) || IsListedApp(name);
            if (!known && NumberedKeyIndex(name, &base) > 0 && base == kAppKeyBase) {
                out_->Warning(section.Line(), "unknown-section", u"section [" + name + u"] is never read: PREREQUISITES has no key " + name);
            } else if (!known && name != name.Trimmed()) {
                out_->Warning(section.Line(), "unknown-section", u"blanks inside the brackets are part of the section name " + Quoted(name) +
                                                  u": it is never read" + DidYouMean(name.Trimmed(), KnownSectionNames()));
            } else if (!known) {
                out_->Warning(section.Line(), "unknown-section", u"unknown section [" + name + u"] is never read" +
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
                    out_->Warning(pair.line, "repeated-key", u"key " + pair.key + u" repeats line " + Decimal(first->line) +
                                                 u" with the same value");
                else
                    out_->Error(pair.line, "repeated-key", u"key " + pair.key + u" repeats line " + Decimal(first->line) +
                                               u": this value (" + Quoted(pair.value) + u") is never read");
                continue;
            }
            if (!known) continue;
            if (pair.key.StartsWith(u";") || pair.key.StartsWith(u"#")) {
                out_->Warning(pair.line, "ignored-line", u"there are no comments: this line sets the key " + Quoted(pair.key));
                continue;
            }
            Array<WString> candidates;
            bool valid = false;
            WString base;
            int k = NumberedKeyIndex(pair.key, &base);
            if (name == kGeneralOptionsSection) {
                valid = IsKnownKey(KeySet::kGeneralOptions, pair.key);
                candidates = KnownKeys(KeySet::kGeneralOptions);
            } else if (name == kChainerSection) {
                valid = IsKnownKey(KeySet::kChainer, pair.key);
                candidates = KnownKeys(KeySet::kChainer);
            } else if (name == kPrerequisitesSection) {
                valid = k > 0 && base == kAppKeyBase;
                candidates.Add(u"App" + Decimal(k > 0 ? k : ParseLenientInt(pair.key.Mid(3))));
            } else {
                valid = IsKnownKey(KeySet::kPrerequisite, pair.key) || (k > 0 && IsKnownKey(KeySet::kSearchBases, base)) ||
                        (k > 1 && base == kMirrorUrlBase);
                candidates = KnownKeys(KeySet::kPrerequisite);
                if (k > 0)
                    for (const WString& b : KnownKeys(KeySet::kSearchBases)) candidates.Add(b + Decimal(k));
            }
            if (!valid)
                out_->Warning(pair.line, "unknown-key", u"unknown key " + Quoted(pair.key) + u" is never read" +
                                             DidYouMean(pair.key, candidates));
        }
    }

    static const char16_t* const kSectionNames[];

    const IniDocument& doc_;
    const WString& text_;
    DiagnosticList* out_;
};

const char16_t* const LayoutChecker::kSectionNames[] = {kGeneralOptionsSection, kPrerequisitesSection, kChainerSection,
                                                        nullptr};

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
    LayoutChecker(document, text, out).Run();
    CheckContext context(document, options, out);
    LoadGeneralOptions(document, &context.general);
    CheckPrerequisiteListSection(&context);
    CheckGeneralOptionsSection(&context);
    CheckChainerSection(&context);
}

DiagnosticList CheckConfigurationFile(const uint8_t* bytes, size_t size, const CheckOptions& options) {
    DiagnosticList out;
    if (size < 2) {
        out.Error(0, "file-form", WString(u"the file is empty: the chainer finds nothing to do"));
        return out;
    }
    WString text;
    bool converted = true;
    const WString how = u" (write it with corvane-check --write)";
    if (bytes[0] == 0xFF && bytes[1] == 0xFE) {
        text = ConfigurationTextFromBytes(bytes, size);
        converted = false;
    } else if (bytes[0] == 0xFE && bytes[1] == 0xFF) {
        out.Error(0, "file-form", u"the file is UTF-16 big-endian: the chainer reads UTF-16LE and finds no usable text" + how);
        text = Utf16Text(bytes + 2, size - 2, true);
    } else if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        out.Error(0, "file-form", u"the file is UTF-8: the chainer reads UTF-16LE and finds no usable text" + how);
        text = TextFromUtf8File(bytes, size, nullptr);
    } else if (LooksLikeUtf16Le(bytes, size)) {
        text = Utf16Text(bytes, size, false);
        out.Error(1, "file-form", u"the file has no byte-order mark: the first two bytes are always skipped, so the first character (" +
                         Quoted(text.Left(1)) + u") is lost" + how);
    } else {
        bool valid = false;
        text = TextFromUtf8File(bytes, size, &valid);
        if (!valid) {
            text.Clear();
            for (size_t i = 0; i < size; ++i) text.Append(static_cast<char16_t>(bytes[i]));
        }
        out.Error(0, "file-form", (valid ? WString(u"the file is UTF-8") : WString(u"the file is ANSI (8-bit) text")) +
                         u": the chainer reads UTF-16LE and finds no usable text" + how);
    }
    if (size % 2 && !converted)
        out.Warning(0, "file-form", WString(u"the file has an odd number of bytes: the last byte is never read"));

    int crlf = 0, lf = 0, cr = 0;
    for (int i = 0; i < text.Length(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.Length() && text[i + 1] == u'\n') {
            ++crlf;
            ++i;
        } else if (text[i] == u'\n') {
            if (crlf) out.Warning(crlf + 1, "file-form", WString(u"a lone LF stays inside the line: only CR LF ends a line"));
            ++lf;
        } else if (text[i] == u'\r') {
            if (crlf) out.Warning(crlf + 1, "file-form", WString(u"a lone CR stays inside the line: only CR LF ends a line"));
            ++cr;
        }
    }
    if (!crlf && (lf || cr)) {
        out.Error(0, "file-form", WString(lf && cr ? u"the file has LF and CR line ends" : lf ? u"the file has LF-only line ends"
                                                                                : u"the file has CR-only line ends") +
                         u": only CR LF ends a line, so the chainer sees a single line" + how);
        converted = true;
    }
    if (converted) {
        out.Note(0, "file-form", WString(u"the rest is checked as the file reads once written with corvane-check --write"));
        if (!crlf || lf || cr) text = WithCrLf(text);
    }
    CheckConfigurationText(text, options, &out);
    out.SortByLine();
    return out;
}

#include "check/diagnostics.h"

namespace {

const char* SeverityName(Severity severity) {
    switch (severity) {
        case Severity::kError: return "error";
        case Severity::kWarning: return "warning";
        default: return "note";
    }
}

void AppendCodePoint(std::string* out, uint32_t cp) {
    if (cp < 0x80) {
        *out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out += static_cast<char>(0xC0 | (cp >> 6));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out += static_cast<char>(0xE0 | (cp >> 12));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (cp >> 18));
        *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string JsonString(const WString& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char c : Utf8(text)) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Plural(int count, const char* word) {
    std::string out = std::to_string(count) + " " + word;
    if (count != 1) out += "s";
    return out;
}

}  // namespace

std::string Utf8(const WString& text) {
    std::string out;
    for (int i = 0; i < text.Length(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.Length() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        AppendCodePoint(&out, c);
    }
    return out;
}

WString FromUtf8(const char* bytes, size_t size, bool* valid) {
    WString out;
    bool ok = true;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    size_t i = 0;
    while (i < size) {
        uint32_t c = p[i];
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        uint32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
        bool good = extra >= 0 && i + extra < size;
        for (int k = 1; good && k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) good = false;
            else cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (good && ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
                     cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)))
            good = false;
        if (!good) {
            ok = false;
            out.Append(static_cast<char16_t>(0xFFFD));
            ++i;
            continue;
        }
        i += static_cast<size_t>(extra) + 1;
        if (cp >= 0x10000) {
            out.Append(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.Append(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.Append(static_cast<char16_t>(cp));
        }
    }
    if (valid) *valid = ok;
    return out;
}

const RuleDescription kRules[] = {
    {"file-form", "a file the chainer cannot read as written (no mark, UTF-8, ANSI, big-endian, LF or CR line ends)"},
    {"ignored-line", "a line the reader skips (no \"=\", text before the first section, a would-be comment)"},
    {"unknown-section", "a section the chainer never reads"},
    {"repeated-section", "a repeated section: only the first is read"},
    {"unknown-key", "a key never read (misspelt, numbered from 0), and a prerequisite left without searches by it"},
    {"repeated-key", "a repeated key: only the first is read"},
    {"list-end", "where the prerequisite list or the searches end early, and what is lost"},
    {"key-without-effect", "a key that does nothing where it stands"},
    {"carried-key", "a general option the chainer carries but never acts on"},
    {"value-read-differently", "a value read other than it looks: reads as ... (quotes kept, lenient numbers, letters, "
                               "versions, OS names, languages, paths)"},
    {"fixed-search-result", "a search whose answer never depends on the machine, and what that does to its prerequisite"},
    {"fixed-outcome", "a prerequisite never installed, or installed on every run, whatever the machine has"},
    {"registry-path", "a registry path that names no key, an unknown root, a default value"},
    {"reference", "an unknown folder property, an unclosed reference, a reference nothing expands"},
    {"launch-expansion", "a reference in a setup's command line that reaches the setup as written"},
    {"unused-command-line", "the command line the run's mode uses is empty, or names the program itself"},
    {"shared-target", "two prerequisites with one download target or one RetValPropName"},
    {"shared-setup-file", "two prerequisites that run one setup file"},
    {"duplicate-name", "two prerequisites with one display name"},
    {"parent", "a ParentPrereq that names no prerequisite (a key, not a display name)"},
    {"self-reference", "a ParentPrereq that names its own prerequisite"},
    {"order", "what the list's order does: a restart before later setups, a child before its parent"},
    {"depends-on-current-folder", "a path whose meaning depends on the folder the chainer was started in"},
    {"depends-on-temp-folder", "a file looked for in the temporary folder plus DefaultProdCode"},
    {"download-name", "a download saved under another name, or under a name Windows does not run as a setup"},
    {"setup-type", "a SetupFile of a type Windows does not run as a setup"},
    {"package-files", "with --files: missing files, wrong sizes and digests; a full path outside the package"},
    {"digest", "an MD5 or SHA256 that rejects every file"},
    {"signer", "SignerThumbprint and SignerName that reject every file or compare nothing"},
    {"unchecked-download", "a download over plain http or ftp that nothing checks (loopback addresses aside)"},
    {"mirrors", "Url2, Url3, ... that are never read: a gap in their numbers, or no Url before them"},
    {"return-codes", "ReturnCodes items the chainer ignores, and meanings that contradict the code"},
    {"cleanup", "cleanup entries that are never deleted"},
    {"deletes-ini", "the INI that every run with [PREREQ_CHAINER] deletes"},
    {"evaluate-only", "a run that only evaluates, or that is silent and launches with BasicUiCommandLine"},
    {"option-letter", "prerequisite option letters: a word read letter by letter, r taken for \"required\""},
    {nullptr, nullptr},
};

bool IsRuleName(const std::string& rule) {
    for (const RuleDescription* r = kRules; r->name; ++r)
        if (rule == r->name) return true;
    return false;
}

void DiagnosticList::Add(int line, Severity severity, const char* rule, const WString& message) {
    Diagnostic d;
    d.line = line;
    d.severity = severity;
    d.rule = rule;
    d.message = message;
    items_.Add(d);
}

bool DiagnosticList::Ignore(const std::string& rule) {
    if (!IsRuleName(rule)) return false;
    Array<Diagnostic> kept;
    for (const Diagnostic& d : items_)
        if (rule != d.rule) kept.Add(d);
    items_ = kept;
    return true;
}

void DiagnosticList::SortByLine() {
    // Insertion sort keeps messages of one line in the order they were found.
    Array<Diagnostic> sorted;
    for (const Diagnostic& d : items_) {
        sorted.Add(d);
        for (int i = sorted.Size() - 1; i > 0 && sorted[i - 1].line > sorted[i].line; --i) {
            Diagnostic t = sorted[i];
            sorted[i] = sorted[i - 1];
            sorted[i - 1] = t;
        }
    }
    items_ = sorted;
}

int DiagnosticList::Count(Severity severity) const {
    int n = 0;
    for (const Diagnostic& d : items_) n += d.severity == severity;
    return n;
}

std::string DiagnosticList::Summary(const WString& fileName) const {
    return Utf8(fileName) + ": " + Plural(Count(Severity::kError), "error") + ", " +
           Plural(Count(Severity::kWarning), "warning") + ", " + Plural(Count(Severity::kNote), "note");
}

std::string DiagnosticList::ToText(const WString& fileName) const {
    std::string out;
    std::string name = Utf8(fileName);
    for (const Diagnostic& d : items_) {
        out += name;
        if (d.line > 0) out += ":" + std::to_string(d.line);
        out += std::string(": ") + SeverityName(d.severity) + ": " + Utf8(d.message) + " [" + d.rule + "]\n";
    }
    return out + Summary(fileName) + "\n";
}

std::string DiagnosticList::ToJson(const WString& fileName) const {
    std::string out = "{\"file\": " + JsonString(fileName) + ", \"diagnostics\": [";
    bool first = true;
    for (const Diagnostic& d : items_) {
        out += first ? "\n  " : ",\n  ";
        first = false;
        out += "{\"line\": " + (d.line > 0 ? std::to_string(d.line) : std::string("null")) + ", \"severity\": \"" +
               SeverityName(d.severity) + "\", \"rule\": \"" + d.rule + "\", \"message\": " + JsonString(d.message) + "}";
    }
    out += first ? "]" : "\n]";
    out += ", \"errors\": " + std::to_string(Count(Severity::kError)) +
           ", \"warnings\": " + std::to_string(Count(Severity::kWarning)) +
           ", \"notes\": " + std::to_string(Count(Severity::kNote)) + "}\n";
    return out;
}

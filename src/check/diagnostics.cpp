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

const char* const kRuleNames[] = {
    "file-form",          "ignored-line",       "unknown-section",   "repeated-section",  "unknown-key",
    "repeated-key",       "list-end",           "key-without-effect", "carried-key",      "value-read-differently",
    "fixed-search-result", "registry-path",     "reference",         "launch-expansion",  "unused-command-line",
    "shared-target",      "shared-setup-file",  "duplicate-name",    "parent",            "self-reference",
    "depends-on-current-folder", "depends-on-temp-folder", "download-name", "package-files", "digest", "signer",
    "cleanup",            "deletes-ini",        "evaluate-only",     "option-letter",     nullptr};

bool IsRuleName(const std::string& rule) {
    for (const char* const* r = kRuleNames; *r; ++r)
        if (rule == *r) return true;
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

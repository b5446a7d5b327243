// Messages about a configuration file in the form compilers use: a line, a
// severity, a text and the short name of the rule that found it; sorted by
// line, counted, and written as text or JSON.
#pragma once

#include <string>

#include "base/array.h"
#include "base/wstr.h"

enum class Severity { kNote, kWarning, kError };

struct Diagnostic {
    int line = 0;  // 0: the file as a whole
    Severity severity = Severity::kNote;
    const char* rule = "";  // e.g. "key-without-effect"
    WString message;
};

class DiagnosticList {
public:
    void Add(int line, Severity severity, const char* rule, const WString& message);
    void Error(int line, const char* rule, const WString& message) { Add(line, Severity::kError, rule, message); }
    void Warning(int line, const char* rule, const WString& message) { Add(line, Severity::kWarning, rule, message); }
    void Note(int line, const char* rule, const WString& message) { Add(line, Severity::kNote, rule, message); }

    // Drops the messages of one rule; false when no rule has that name.
    bool Ignore(const std::string& rule);

    // Stable sort by line; messages about the whole file come first.
    void SortByLine();
    int Count(Severity severity) const;
    const Array<Diagnostic>& Items() const { return items_; }

    // "file:12: warning: text [rule]" per message (a message about the whole
    // file has no line), then the summary line.
    std::string ToText(const WString& fileName) const;
    std::string ToJson(const WString& fileName) const;
    // "file: 1 error, 2 warnings, 0 notes"
    std::string Summary(const WString& fileName) const;

private:
    Array<Diagnostic> items_;
};

// Every rule a message can carry, with what it finds (for --help); ends
// with a null name.
struct RuleDescription {
    const char* name;
    const char* finds;
};
extern const RuleDescription kRules[];
bool IsRuleName(const std::string& rule);

// UTF-8 form of a UTF-16 text (unpaired surrogates become U+FFFD).
std::string Utf8(const WString& text);
// UTF-16 form of UTF-8 bytes; *valid (optional) is false when the bytes are
// not well-formed UTF-8 (bad sequences become U+FFFD).
WString FromUtf8(const char* bytes, size_t size, bool* valid = nullptr);

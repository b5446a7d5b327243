// Messages about a configuration file in the form compilers use: a line, a
// severity and a text; sorted by line, counted, and written as text or JSON.
#pragma once

#include <string>

#include "base/array.h"
#include "base/wstr.h"

enum class Severity { kNote, kWarning, kError };

struct Diagnostic {
    int line = 0;  // 0: the file as a whole
    Severity severity = Severity::kNote;
    WString message;
};

class DiagnosticList {
public:
    void Add(int line, Severity severity, const WString& message);
    void Error(int line, const WString& message) { Add(line, Severity::kError, message); }
    void Warning(int line, const WString& message) { Add(line, Severity::kWarning, message); }
    void Note(int line, const WString& message) { Add(line, Severity::kNote, message); }

    // Stable sort by line; messages about the whole file come first.
    void SortByLine();
    int Count(Severity severity) const;
    const Array<Diagnostic>& Items() const { return items_; }

    // "file:12: warning: text" per message, then the summary line.
    std::string ToText(const WString& fileName) const;
    std::string ToJson(const WString& fileName) const;
    // "file: 1 error, 2 warnings, 0 notes"
    std::string Summary(const WString& fileName) const;

private:
    Array<Diagnostic> items_;
};

// UTF-8 form of a UTF-16 text (unpaired surrogates become U+FFFD).
std::string Utf8(const WString& text);
// UTF-16 form of UTF-8 bytes; *valid (optional) is false when the bytes are
// not well-formed UTF-8 (bad sequences become U+FFFD).
WString FromUtf8(const char* bytes, size_t size, bool* valid = nullptr);

// The setup author's checker: reads a configuration file exactly as the
// chainer does and reports, line by line, what would be lost, broken or is
// very likely not meant.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "check/diagnostics.h"
#include "base/wstr.h"
#include "download/file_verdict.h"

// The folder with the package's files and downloaded setups, for the checks
// that compare the configuration with real files.
class PackageFiles {
public:
    virtual ~PackageFiles() {}
    // A file below the folder (path with backslashes, relative to it): false
    // when it is missing; otherwise its size and both digests, for the one
    // verdict (download/file_verdict.h).
    virtual bool Describe(const WString& relativePath, FileFacts* facts) = 0;
};

struct CheckOptions {
    PackageFiles* files = nullptr;  // null: no file checks
};

// The file's bytes as they lie on disk: their form first (mark, encoding,
// line ends), then the content. A file in the wrong form is checked as it
// would read once written in the right one.
DiagnosticList CheckConfigurationFile(const uint8_t* bytes, size_t size, const CheckOptions& options);

// The text as the chainer hands it to the parser (after the two skipped bytes).
void CheckConfigurationText(const WString& text, const CheckOptions& options, DiagnosticList* out);

// The exact form the chainer reads (mark, UTF-16LE, CR LF after every line)
// of a text with any line ends.
void ChainerFormBytes(const WString& text, Array<uint8_t>* bytes);
// UTF-8 bytes (an optional UTF-8 mark is dropped) as text.
WString TextFromUtf8File(const uint8_t* bytes, size_t size, bool* valid);

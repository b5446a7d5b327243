// The process-wide log: a UTF-16LE file opened on the first line written,
// appended across runs, with a banner at every opening.
#pragma once

#include <windows.h>

#include "base/once_win.h"
#include "base/wstr.h"
#include "platform/unique_handle_win.h"

class Logger {
public:
    Logger();
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void SetLogFile(const WString& path);
    void WriteLine(const WString& text);
    // Writes the end-of-log line (when logging is enabled) and closes the file.
    void Close();
    WString Path();

private:
    void Lock();
    void Unlock();
    bool Open();
    void WriteLineLocked(const WString& text);
    void WriteRaw(const void* data, DWORD bytes);
    void WriteText(const WString& text);
    // The path of a fallback place; a folder of the chainer's own stays open in
    // folderHold until the file is opened.
    WString FallbackPath(int attempt, UniqueFile* folderHold);

    LazyLock lock_;
    WString path_;
    const char16_t* header_;
    UniqueFile file_;
    bool closed_ = false;  // after Close nothing more is written
};

Logger& TheLogger();

// The log file name for an executable path: its file name with the extension
// replaced by "LOG" (".LOG" appended when it has none).
WString LogFileNameFor(const WString& executablePath);
// The processor brand string, or "UnkownCPU" without the brand leaves.
WString ProcessorBrandText();
// The same from the highest extended leaf and the registers of the leaves
// 0x80000002 to 0x80000004 (EAX, EBX, ECX, EDX each).
WString ProcessorBrandTextFrom(unsigned int highestExtendedLeaf, const unsigned int registers[12]);

class AccessListBuilder;
// The descriptor of the shared log folder: one entry granting Everyone full
// control, not inherited. Owned by the builder; null when it cannot be built.
PSECURITY_DESCRIPTOR SharedLogFolderDescriptor(AccessListBuilder* access);

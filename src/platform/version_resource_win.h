// A file's version resource, read through the version-information functions
// of version.dll (loaded from the system folder on first need). Resolve the
// functions with VersionFunctionsAvailable before file-system redirection is
// switched off: with redirection off the system folder of a 32-bit process
// names the 64-bit DLLs.
#pragma once

#include <windows.h>

#include "base/wstr.h"

// Loads version.dll and its three functions once; false when any is missing.
// Every read then fails; callers that must tell a missing reader from a file
// without a version resource (the file-version search) ask this first.
bool VersionFunctionsAvailable();

class VersionResource {
public:
    VersionResource() {}
    ~VersionResource();
    VersionResource(const VersionResource&) = delete;
    VersionResource& operator=(const VersionResource&) = delete;

    // Reads the resource of the file; false when it has none or cannot be
    // read.
    bool Read(const WString& path);

    // The fixed file information; false without one.
    bool FixedInfo(VS_FIXEDFILEINFO* info) const;

    // A string value of the resource's first translation (English, code page
    // 1250 when it lists none), e.g. "ProductName"; empty without one.
    WString StringValue(const char16_t* name) const;

private:
    bool Query(const WString& subBlock, void** value, UINT* length) const;

    void* block_ = nullptr;
};

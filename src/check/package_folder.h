// Files read through the C runtime, by UTF-16 path: the configuration file,
// the written INI, and the folder of a package's files.
#pragma once

#include <stdint.h>

#include <string>

#include "check/config_checker.h"
#include "base/array.h"
#include "base/wstr.h"

bool ReadWholeFile(const WString& path, Array<uint8_t>* bytes);
bool WriteWholeFile(const WString& path, const Array<uint8_t>& bytes);

// A folder on this machine; relative paths use backslashes as in the INI.
class PackageFolder : public PackageFiles {
public:
    explicit PackageFolder(const WString& folder) : folder_(folder) {}
    bool Describe(const WString& relativePath, FileFacts* facts) override;

private:
    WString folder_;
};

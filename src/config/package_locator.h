// Finds the setup files that come with the package. Portable.
#pragma once

#include <stdint.h>

#include "base/wstr.h"

class PackageLocator {
public:
    // packagePath empty: the caller supplies the module's own path instead.
    void Configure(const WString& packagePath, const WString& extractionFolder);
    void SetOptionFlags(uint32_t flags) { optionFlags_ = flags; }
    void SetCleanupMode(int32_t mode) { cleanupMode_ = mode; }
    void SetActive(bool active) { active_ = active; }

    // Full path of a location: absolute locations unchanged, relative ones
    // below the extraction folder or the package's folder. entryIndex is -1.
    WString Locate(const WString& location, int32_t* entryIndex) const;
    // Always relative to the extraction folder or the package's folder.
    WString LocateNamedFile(const WString& name, int32_t* result) const;

    const WString& PackagePath() const { return packagePath_; }
    const WString& PackageFolder() const { return packageFolder_; }
    const WString& ExtractionFolder() const { return extractionFolder_; }

private:
    WString Relative(const WString& location) const;
    WString packagePath_;
    WString packageFolder_;
    WString extractionFolder_;
    uint32_t optionFlags_ = 0;
    int32_t cleanupMode_ = 0;
    bool active_ = false;
};

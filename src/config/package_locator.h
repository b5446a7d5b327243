// Finds the setup files that come with the package. Portable.
#pragma once

#include <stdint.h>

#include "base/wstr.h"

// The package's files already lie on disk (in the extraction folder, or
// beside the chainer): they are located, never extracted, and nothing the
// locator hands out is deleted at the end of the run.
class PackageLocator {
public:
    // packagePath empty: the caller supplies the module's own path instead.
    void Configure(const WString& packagePath, const WString& extractionFolder);

    // Full path of a location: absolute locations unchanged, relative ones
    // below the extraction folder or the package's folder. entryIndex is -1.
    WString Locate(const WString& location, int32_t* entryIndex) const;
    // Always relative to the extraction folder or the package's folder.
    WString LocateNamedFile(const WString& name, int32_t* result) const;

private:
    WString Relative(const WString& location) const;
    WString packagePath_;
    WString extractionFolder_;
};

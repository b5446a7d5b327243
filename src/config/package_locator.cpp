#include "config/package_locator.h"

#include "platform/path_rules.h"

void PackageLocator::Configure(const WString& packagePath, const WString& extractionFolder) {
    packagePath_ = packagePath;
    extractionFolder_ = extractionFolder;
}

WString PackageLocator::Relative(const WString& location) const {
    WString path;
    if (!extractionFolder_.IsEmpty()) {
        path = extractionFolder_;
    } else {
        int slash = packagePath_.FindLastChar(u'\\');
        path = slash < 0 ? WString() : packagePath_.Left(slash);
    }
    if (!path.EndsWith(u"\\")) path.Append(u'\\');
    path.Append(location);
    return path;
}

WString PackageLocator::Locate(const WString& location, int32_t* entryIndex) const {
    if (entryIndex) *entryIndex = -1;
    if (IsAbsolutePath(location)) return location;
    return Relative(location);
}

WString PackageLocator::LocateNamedFile(const WString& name, int32_t* result) const {
    if (result) *result = 0;
    return Relative(name);
}

#include "config/prerequisite.h"
#include "platform/fileops_win.h"
#include "platform/path_rules.h"
#include "platform/references_win.h"

namespace {

void EnsureTrailingBackslash(WString* folder) {
    if (folder->Last() != u'\\') folder->Append(u'\\');
}

// A configured folder has its references expanded and is rejoined; without
// one, the folder is named after the product inside the temporary folder.
// A configured folder that expands to nothing (an unset variable, say) takes
// the default too rather than the root of the current drive.
WString ResolveFolder(const WString& configured, const WString& defaultProdCode) {
    WString folder;
    if (!configured.IsEmpty()) folder = NormalisePath(ExpandSystemReferences(configured, false));
    if (folder.IsEmpty()) {
        folder = TempFolder();
        folder.Append(defaultProdCode);
    }
    EnsureTrailingBackslash(&folder);
    return folder;
}

}  // namespace

const WString& PrerequisiteList::ResolvedDownloadFolder() {
    if (!downloadFolderResolved_) {
        downloadFolder_ = ResolveFolder(options.DownloadFolder, options.DefaultProdCode);
        downloadFolderResolved_ = true;
    }
    return downloadFolder_;
}

const WString& PrerequisiteList::ResolvedExtractionFolder() {
    if (!extractionFolderResolved_) {
        extractionFolder_ = ResolveFolder(options.ExtractionFolder, options.DefaultProdCode);
        extractionFolderResolved_ = true;
    }
    return extractionFolder_;
}

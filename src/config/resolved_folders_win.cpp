#include "config/prerequisite.h"

const WString& PrerequisiteList::ResolvedDownloadFolder() { return downloadFolder_; }
const WString& PrerequisiteList::ResolvedExtractionFolder() { return extractionFolder_; }

// The PREREQ_CHAINER section: log file and what the end of the run removes.
#pragma once

#include "base/wstr.h"
#include "config/ini_document.h"

struct ChainerSettings {
    WString CleanupFiles;    // paths separated by U+0001
    WString CleanupFolders;  // the root under which cleanup happens
    WString LogFile;
    WString CleanupScript;
};

// False, leaving the record empty, when PREREQ_CHAINER is absent.
bool LoadChainerSettings(const IniDocument& document, ChainerSettings* settings);

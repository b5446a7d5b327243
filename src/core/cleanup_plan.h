// What the end of the run removes: files deleted directly, and the paths
// handed to the package's cleanup script.
#pragma once

#include "base/array.h"
#include "base/wstr.h"
#include "config/ini_document.h"

class CleanupPlan {
public:
    // Prepares the lists from PREREQ_CHAINER; nothing when the section is absent.
    void Prepare(const IniDocument& document, const WString& iniPath, const WString& executablePath);
    // Destructor steps of the Chainer, in this order.
    void DeleteAndPrune();
    void RunScript();

    const Array<WString>& FileList() const { return fileList_; }
    const Array<WString>& ScriptPaths() const { return scriptPaths_; }
    const WString& Script() const { return script_; }
    const WString& CleanupFolders() const { return cleanupFolders_; }
    void ReleaseLists();

private:
    Array<WString> fileList_;
    Array<WString> scriptPaths_;
    WString script_;
    bool elevate_ = false;
    int retryCount_ = 0;
    WString cleanupFolders_;
};

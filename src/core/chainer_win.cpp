#include "core/chainer_win.h"

#include <windows.h>

#include "base/resource_ids.h"
#include "config/chainer_settings.h"
#include "config/ini_document.h"
#include "config/ini_path.h"
#include "config/prerequisite.h"
#include "core/main_flow_win.h"
#include "evaluation/search_engine_win.h"
#include "log/log.h"
#include "log/logger_win.h"
#include "platform/references_win.h"
#include "platform/win_util.h"

Chainer::Chainer() {}

Chainer::~Chainer() {
    cleanupPlan_.DeleteAndPrune();
    executablePath_.Clear();
    iniPath_.Clear();
    executableFolder_.Clear();
    cleanupFolders_.Clear();
    cleanupPlan_.RunScript();
    cleanupPlan_.ReleaseLists();
}

static WString ReadConfigurationText(const WString& iniPath, DWORD sizeLow) {
    UniqueFile file(CreateFileW(iniPath.wc(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || sizeLow < 2) return WString();
    if (SetFilePointer(file.Get(), 2, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return WString();
    DWORD toRead = sizeLow - 2;
    uint8_t* buffer = static_cast<uint8_t*>(MemAlloc(static_cast<size_t>(toRead) + 2));
    if (!buffer) RaiseFailure(kHrOutOfMemory);
    buffer[0] = 0xFF;
    buffer[1] = 0xFE;
    DWORD got = 0;
    WString text;
    if (ReadFile(file.Get(), buffer + 2, toRead, &got, nullptr) && got > 0)
        text = ConfigurationTextFromBytes(buffer, static_cast<size_t>(got) + 2);
    MemFree(buffer);
    return text;
}

int32_t Chainer::Run() {
    executablePath_ = ModuleFileName();
    executableFolder_ = ExecutableFolder(executablePath_);
    iniPath_ = IniPathForExecutable(executablePath_);

    WIN32_FIND_DATAW found;
    UniqueFind search(FindFirstFileW(iniPath_.wc(), &found));
    if (!search) return 0;

    IniDocument document;
    WString text = ReadConfigurationText(iniPath_, found.nFileSizeLow);
    if (!text.IsEmpty()) document.Parse(text);

    PrerequisiteList list;
    list.Load(document, SystemReferences());

    cleanupPlan_.Prepare(document, iniPath_, executablePath_);
    cleanupFolders_ = cleanupPlan_.CleanupFolders();

    ChainerSettings settings;
    if (LoadChainerSettings(document, &settings) && !settings.LogFile.IsEmpty()) {
        LoggingEnabled = true;
        TheLogger().SetLogFile(settings.LogFile);
    }

    silent_ = list.IsSilentMode();
    Interactive = !silent_;

    packageLocator_.Configure(executablePath_, list.ResolvedExtractionFolder());
    SetSearchPackageLocator(&packageLocator_);

    // The package's own title, else "%s Setup" with the product name of the
    // executable's version resource, taken when a window first needs it.
    if (!list.options.Title.IsEmpty()) statusWindow_.SetTitle(list.options.Title);
    statusWindow_.Show(IDS_PREPARING, false);
    statusWindow_.SetExecutablePath(executablePath_);
    // Every window and box of the run carries it, the restart question too.
    if (Interactive) RunTitle = statusWindow_.EnsureTitle();

    SetCurrentDirectoryW(executableFolder_.wc());

    // The chainer waits until no Windows Installer transaction runs. A mutex
    // that cannot be opened or waited on stops the run before the main flow,
    // and such a run must not report success.
    UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\_MSIExecute"));
    if (mutex) {
        DWORD wait = WaitForSingleObject(mutex.Get(), 0);
        if (wait == WAIT_TIMEOUT) {
            // Another installation runs: the status window says so and keeps
            // answering its messages while the run waits.
            statusWindow_.Show(IDS_WAITING_INSTALLER, false);
            if (Interactive)
                (void)WaitWithMessages(mutex.Get(), &wait);
            else
                wait = WaitForSingleObject(mutex.Get(), INFINITE);
        }
        // The wait only lets a running transaction finish. A satisfied wait
        // (an abandoned mutex is acquired too) makes this thread the owner,
        // and closing the handle would not give it up while other handles
        // exist: every installer launched later would find the installer
        // busy. So it is released at once.
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(mutex.Get());
        mutex.Reset();
        if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
            exitCode_ = 1;
            return 1;
        }
    } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        exitCode_ = 1;
        return 1;
    }
    exitCode_ = RunMainFlow(list, packageLocator_, statusWindow_);
    return 0;
}

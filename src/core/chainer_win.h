// The application object of one run.
#pragma once

#include <stdint.h>

#include "base/wstr.h"
#include "config/package_locator.h"
#include "core/cleanup_plan.h"
#include "ui/status_window_win.h"

class Chainer {
public:
    Chainer();
    ~Chainer();
    Chainer(const Chainer&) = delete;
    Chainer& operator=(const Chainer&) = delete;

    // The run sequence; answers the run's own status.
    int32_t Run();
    int32_t ExitCode() const { return exitCode_; }

private:
    int32_t exitCode_ = 0;
    bool silent_ = false;
    PackageLocator packageLocator_;
    StatusWindow statusWindow_;
    CleanupPlan cleanupPlan_;
    WString executablePath_;
    WString iniPath_;
    WString executableFolder_;
    WString cleanupFolders_;
};

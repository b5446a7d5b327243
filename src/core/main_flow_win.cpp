#include "core/main_flow_win.h"

int32_t RunMainFlow(PrerequisiteList&, PackageLocator&, StatusWindow&) { return 0; }

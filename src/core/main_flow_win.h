// The main run flow: evaluation, the work, the reboot outcome, the exit code.
#pragma once

#include <stdint.h>

class PrerequisiteList;
class PackageLocator;
class StatusWindow;

[[nodiscard]] int32_t RunMainFlow(PrerequisiteList& list, PackageLocator& locator, StatusWindow& statusWindow);

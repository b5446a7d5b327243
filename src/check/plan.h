// What a run of the chainer would do on this machine: the filters and
// searches of every prerequisite with their results, its action and the
// selection, and how its setup would be launched, without downloading,
// installing, logging or any window. The evaluation is Windows-only; the
// table is printed by portable code.
#pragma once

#include <stdint.h>

#include <string>

#include "base/array.h"
#include "base/wstr.h"

struct PlanSearch {
    int32_t type = 0;
    WString string;
    bool ran = false;
    bool found = false;
    Array<WString> values;
    WString content;
};

// A launch as the chainer would make it: through the shell (file,
// parameters, working folder) and, under LocalSystem, directly (program and
// its whole command line).
struct PlanLaunch {
    WString commandLineKey;  // the key the mode takes the arguments from
    WString shellFile;
    WString shellParameters;
    WString workingFolder;
    WString directProgram;
    WString directCommandLine;
};

struct PlanItem {
    WString name;
    bool osPasses = false;
    bool languagePasses = false;
    bool anyLanguage = true;
    bool ignoreOption = false;
    bool mandatory = false;
    WString parent;
    Array<PlanSearch> searches;
    int32_t op = 0;
    int32_t result = 0;  // the evaluation's action
    int32_t action = 0;  // the action as the engine sees it
    bool selected = false;
    WString writtenLocation;
    WString location;  // expanded: the setup's path, the URL or the site
    WString target;    // a download's target
    bool targetMoved = false;
    bool launches = false;
    PlanLaunch launch;
};

struct PlanReport {
    WString configuration;
    std::string windows;  // the Windows line
    std::string mode;
    WString writtenDownloadFolder, downloadFolder;
    WString writtenExtractionFolder, extractionFolder;
    Array<PlanItem> items;
};

// Evaluates the configuration file at iniPath; false (with the reason in
// *error) when the file cannot be read.
bool EvaluatePlan(const WString& iniPath, PlanReport* report, std::string* error);
// The report as the table --plan prints.
std::string PlanTable(const PlanReport& report);

// What a run of the chainer would do on this machine: the run's own plan
// (engine/run_plan.h, the value the engine applies) with the filters and
// searches of every prerequisite and their results, without downloading,
// installing, logging or any window. The evaluation is Windows-only; the
// table is printed by portable code.
#pragma once

#include <stdint.h>

#include <string>

#include "base/array.h"
#include "base/wstr.h"
#include "engine/run_plan.h"

struct PlanSearch {
    int32_t type = 0;
    WString string;
    WString expanded;  // what the search reads, references expanded (types that expand them)
    bool ran = false;
    bool found = false;
    Array<WString> values;
    WString content;
};

// What the plan does not hold of a prerequisite: how it was evaluated.
struct PlanEvaluation {
    bool osPasses = false;
    bool languagePasses = false;
    bool anyLanguage = true;
    int32_t op = 0;
    Array<PlanSearch> searches;
    WString writtenLocation;  // as the INI writes it
    WString location;         // expanded: the setup's path, the URL or the site
};

struct PlanReport {
    WString configuration;
    std::string windows;  // the Windows line
    WString writtenDownloadFolder, writtenExtractionFolder;
    RunPlan run;
    Array<PlanEvaluation> evaluations;  // per item of run
};

// Evaluates the configuration file at iniPath; false (with the reason in
// *error) when the file cannot be read.
bool EvaluatePlan(const WString& iniPath, PlanReport* report, std::string* error);
// The report as the table --plan prints.
std::string PlanTable(const PlanReport& report);

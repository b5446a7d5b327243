// The run as one value: from the evaluated prerequisites, what the run will
// do with each of them — its action and why it is or is not selected, its
// download (URL, target, part file, validator, expected bytes), its launch
// (file, arguments, working folder, how it is started), its reboot mode and
// return-code table. Computed once per evaluation; the engine applies it,
// corvane-check --plan prints it. Portable.
#pragma once

#include <stdint.h>

#include "base/array.h"
#include "base/wstr.h"
#include "config/prerequisite.h"
#include "download/file_verdict.h"
#include "install/command_line.h"
#include "install/return_codes.h"

class PackageLocator;
class ReferenceResolver;

enum class RunMode {
    kSilent,        // "q": no window
    kBasicUi,       // "b" without "q": status window, then the progress dialog
    kEvaluateOnly,  // neither: nothing is installed
};

// Why a prerequisite is or is not selected for work.
enum class SelectionReason {
    kMissing,          // its searches did not find it
    kParentOfMissing,  // present, selected because a prerequisite that names it as parent needs work
    kPresent,          // found; nothing to do
    kExcluded,         // the OS or language filter excludes it
    kDeselectedWithParent,  // missing, but its parent was found present afterwards and took it out of the work
    kNotEvaluated,
};

struct PlannedDownload {
    WString url;  // references expanded
    // Url2, Url3, ...: tried in order when the one before fails or its bytes
    // are rejected; mirror k (from 2) keeps the part file "<target>.part<k>".
    Array<WString> mirrors;
    WString target;
    WString partFile;
    WString validatorFile;
    ExpectedFile expected;
    // Another prerequisite downloads to the same file: this one got a
    // subfolder of its own.
    bool targetMoved = false;
    // A file of the right size lies at the target already (action 5).
    bool alreadyThere = false;
    // A local file URL: installed where it lies, nothing is downloaded.
    bool localFile = false;
};

struct PlannedLaunch {
    WString file;  // what is launched (an elevated run moves a download into its protected folder first)
    const char16_t* commandLineKey = nullptr;  // BasicUiCommandLine or NoUiCommandLine
    WString arguments;                         // as handed to the setup
    WString workingFolder;
    LaunchMethod method = LaunchMethod::Shell;
    DirectLaunch direct;  // the program and command line when not the shell's
    // An elevated run launches this download from its protected folder.
    bool fromProtectedFolder = false;
    RebootMode reboot = RebootMode::kNone;
    ReturnCodeTable codes;
    WString retValPropName;
};

struct PlannedItem {
    int index = 0;
    WString name;
    bool mandatory = false;  // "m"
    bool exempt = false;     // "i": no searches, not in the final check
    bool view64 = false;     // "x": 64-bit registry view, no file-system redirection
    WString parent;
    int32_t evaluated = 0;   // the evaluation's action code
    int32_t action = 0;      // the action as the engine applies it
    bool selected = false;
    SelectionReason reason = SelectionReason::kPresent;
    bool downloads = false;  // download (action 2) or already downloaded (5)
    PlannedDownload download;
    bool launches = false;   // its setup is started (actions 1 and 5; 2 once it is downloaded)
    PlannedLaunch launch;
    bool opensSite = false;  // action 3
    WString site;
};

// What the plan takes from the process and the machine besides the list.
struct PlanFacts {
    bool elevated = false;     // an elevated token, LocalSystem, or an administrator on Windows XP
    bool localSystem = false;
    WString systemFolder;      // ends with a backslash
    WString downloadFolder;    // resolved, ending with a backslash
    WString extractionFolder;  // resolved, ending with a backslash
};

struct RunPlan {
    RunMode mode = RunMode::kEvaluateOnly;
    int32_t keep = kKeepFilesOther;  // KeepFilesCode
    PlanFacts facts;
    Array<PlannedItem> items;

    // Some prerequisite needs a download, a site or an install.
    bool AnyWork() const;
    bool KeepsDownloads() const { return keep == kKeepFilesComplete || keep == kKeepFilesPrereqs; }
};

// The plan of an evaluated list. folders resolves the folder properties
// that a downloaded setup's arguments may hold (and only those).
RunPlan BuildRunPlan(PrerequisiteList& list, const PackageLocator& locator, const PlanFacts& facts,
                     ReferenceResolver& folders);

// Opens a file through the shell with the "open" verb and waits for it: the
// runner of program searches and of setup launches.
#pragma once

#include <windows.h>

#include "base/wstr.h"

struct ShellRunResult {
    bool started = false;      // the shell reported success
    bool hadProcess = false;   // a process handle came back (and was waited for)
    DWORD exitCode = 0;        // valid when hadProcess
    DWORD error = 0;           // the system error when !started
};

// file and folder lose a leading "\\?\" before they reach the shell;
// parameters are passed as given (none when empty); the working folder is the
// given folder (none when empty). Waits without time limit.
ShellRunResult ShellOpenAndWait(const WString& file, const WString& parameters, const WString& folder,
                                int showCommand);

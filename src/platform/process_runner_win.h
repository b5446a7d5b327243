// Opens a file through the shell with the "open" verb and waits for it: the
// runner of program searches and of setup launches.
#pragma once

#include <windows.h>

#include "base/wstr.h"
#include "platform/unique_handle_win.h"

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

// Opens a document or URL through the desktop's own shell, the Explorer
// process of the user's session, so that whatever it starts runs with that
// process's rights: for an elevated process, the user's unelevated ones.
// Needs COM on the calling thread. False when no desktop shell answers (no
// Explorer, a system without one) or it refuses.
bool OpenThroughDesktopShell(const WString& target);

// The command the machine registers for opening a URL scheme
// (HKEY_LOCAL_MACHINE\Software\Classes\<scheme>\shell\open\command, never
// the user's own classes), environment references expanded; empty when
// there is none.
WString MachineUrlHandler(const WString& scheme);

// Starts program with the whole command line, not waiting for it; the
// process handle, or an empty handle (the last error tells why).
UniqueHandle StartProcess(const WString& program, const WString& commandLine, const WString& folder, int showCommand);

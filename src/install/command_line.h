// The command lines the installation composes: direct launches of setups and
// of msiexec.exe, and the PowerShell parameters of the cleanup script.
// Portable.
#pragma once

#include <stdint.h>

#include "base/array.h"
#include "base/wstr.h"


// The folder that holds a file: the text before its last backslash (empty
// when there is none), without the long-path prefix.
WString FolderOfFile(const WString& path);

// True when the file's extension is exactly ".msi" (four characters, any case).
bool HasMsiExtension(const WString& path);

// Arguments of a direct launch: a non-empty text that does not begin with a
// blank gets one blank in front.
WString DirectLaunchArguments(const WString& resolvedCommandLine);

// msiexec.exe's command line: " /i " + the quoted package path (without the
// long-path prefix) + the arguments of DirectLaunchArguments.
WString MsiexecCommandLine(const WString& packagePath, const WString& arguments);

// A program's own command line: the quoted program path, a blank, then the
// arguments of DirectLaunchArguments.
WString ProgramCommandLine(const WString& programPath, const WString& arguments);

// Whether the machine restarts after a setup that succeeded: "r" in the
// prerequisite's Options asks for it, "rR" only when the prerequisite is
// then found present; "R" alone is nothing.
enum class RebootMode { kNone = 0, kAfterSuccess = 1, kIfPresentAfterSuccess = 2 };
RebootMode RebootModeFromOptions(const WString& options);

// The arguments a setup is launched with: BasicUiCommandLine when the
// general Options contain "b" (also with "q"), else NoUiCommandLine.
struct Prerequisite;
const WString& ChooseCommandLine(const WString& generalOptions, const Prerequisite& prerequisite);

// How a setup file is started. An unelevated run hands it to the shell. An
// elevated run (or one as LocalSystem) starts it itself, so that no class
// handler of the user's own registry (HKCU\Software\Classes, merged into
// HKCR even for an elevated process) chooses what runs: a program directly,
// any other file through the system's own program for its type from the
// system folder; a type without one is refused.
enum class LaunchMethod {
    Shell,    // ShellExecuteEx with the verb "open"
    Direct,   // the program itself (.exe, .com)
    Msiexec,  // msiexec.exe /i (.msi) or /p (.msp)
    Wusa,     // wusa.exe (.msu)
    Cmd,      // cmd.exe /d /s /c, AutoRun commands off (.bat, .cmd)
    Refused,
};
LaunchMethod ChooseLaunchMethod(const WString& file, bool elevated);

// The program and its whole command line for a launch that is not the
// shell's: systemFolder ends with a backslash; arguments are passed as given
// (DirectLaunchArguments). Empty for Shell and Refused.
struct DirectLaunch {
    WString program;
    WString commandLine;
};
DirectLaunch ComposeDirectLaunch(LaunchMethod method, const WString& systemFolder, const WString& file,
                                 const WString& arguments);

// What opens target through a handler command as the registry holds it
// ("C:\x\prog.exe" "%1", or C:\x\prog.exe %1 -new): %1, %L and %l become
// the target, and without any of them the quoted target is appended. The
// program is the quoted first token, or else the text up to and including
// the first ".exe" followed by a blank or the end (never a guess at a
// shorter path). False when no program can be told.
bool ComposeHandlerLaunch(const WString& handlerCommand, const WString& target, DirectLaunch* launch);

// The scheme of a URL: a letter, then letters, digits, "+", "-" or ".", up
// to the first ":"; empty when it has none.
WString UrlScheme(const WString& url);

// Every path in single quotes, joined by commas without blanks. PowerShell
// reads a single-quoted string literally except for the quote itself, so each
// quote character inside a path is doubled.
WString QuoteCleanupPaths(const Array<WString>& paths);

// "& '<script>' -paths <paths> -retry_count <n>": the script is invoked with
// the call operator on its single-quoted name (quotes doubled).
WString CleanupCommandText(const WString& scriptName, const WString& quotedPaths, int32_t retryCount);

// "-NonInteractive -NoLogo -ExecutionPolicy <policy> -Command "<command>"".
WString CleanupScriptParameters(const WString& executionPolicy, const WString& commandText);

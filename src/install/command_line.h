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

// Every path in single quotes, joined by commas without blanks. PowerShell
// reads a single-quoted string literally except for the quote itself, so each
// quote character inside a path is doubled.
WString QuoteCleanupPaths(const Array<WString>& paths);

// "& '<script>' -paths <paths> -retry_count <n>": the script is invoked with
// the call operator on its single-quoted name (quotes doubled).
WString CleanupCommandText(const WString& scriptName, const WString& quotedPaths, int32_t retryCount);

// "-NonInteractive -NoLogo -ExecutionPolicy <policy> -Command "<command>"".
WString CleanupScriptParameters(const WString& executionPolicy, const WString& commandText);

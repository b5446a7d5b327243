// Small Win32 helpers shared by every subsystem: the owning handles, the system
// message text of a code, registry values as text, module path, string
// resources (code-page conversion and once-flags come with it from base).
#pragma once

#include <windows.h>

#include "base/narrow_text_win.h"
#include "base/once_win.h"
#include "base/wstr.h"
#include "platform/text_resources_win.h"  // LoadResourceString
#include "platform/unique_handle_win.h"

// The system's message text for a code (usually ending with CR LF), or the
// code as a signed decimal number when the system has none.
WString SystemMessageText(uint32_t code);

// Registry root by name, compared without regard to case: HKLM /
// HKEY_LOCAL_MACHINE, HKCU / HKEY_CURRENT_USER, HKCR / HKEY_CLASSES_ROOT,
// HKCC / HKEY_CURRENT_CONFIG; any other text names HKEY_USERS.
HKEY RegistryRootFromName(const WString& name);

// Splits ROOT\key\...\ValueName into root, key path and value name. False
// when the path has no backslash.
bool SplitRegistryValuePath(const WString& path, HKEY* root, WString* keyPath, WString* valueName);
// Splits ROOT\key\... into root and key path. False without a backslash.
bool SplitRegistryKeyPath(const WString& path, HKEY* root, WString* keyPath);

// The process's own system folder (GetSystemDirectoryW; a 32-bit process on
// 64-bit Windows is redirected from it to the 32-bit one), ending with a
// backslash; empty when it cannot be read.
WString SystemFolderPath();

// Full path of a module (null: this process), read with a growing buffer.
WString ModuleFileName(HMODULE module = nullptr);

// Waits without limit for a process and answers its exit code. A wait or a
// read that fails answers the last error (ERROR_GEN_FAILURE when there is
// none), so that it never reads as success.
DWORD WaitForExitCode(HANDLE process);


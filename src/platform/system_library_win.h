// DLLs other than the statically imported system ones are loaded only
// through here: by their full path in the system folder, never by bare name
// (a setup package often runs from a download folder that may hold a planted
// DLL of the same name). A module is loaded on first need and kept until the
// process ends. Load what a feature needs before file-system redirection is
// switched off: with redirection off a 32-bit process's system folder names
// the 64-bit DLLs.
#pragma once

#include <windows.h>

// The module, or null when it is missing or cannot be loaded (the last
// error then tells why).
HMODULE SystemLibrary(const wchar_t* name);

// An export of a loaded module, by name or by MAKEINTRESOURCEA(ordinal);
// null when the module is null or lacks it.
template <typename Fn>
Fn ModuleFunction(HMODULE module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// An export of a system-folder DLL (loaded as above).
template <typename Fn>
Fn SystemFunction(const wchar_t* dll, const char* name) {
    return ModuleFunction<Fn>(SystemLibrary(dll), name);
}

// An export of kernel32, for functions newer than Windows XP SP3.
template <typename Fn>
Fn KernelFunction(const char* name) {
    return ModuleFunction<Fn>(GetModuleHandleW(L"kernel32.dll"), name);
}

#include "platform/system_library_win.h"

#include "base/wstr.h"
#include "platform/win_util.h"

namespace {

const int kMaxModules = 16;
const int kMaxName = 32;

// Loaded modules by name; a handful at most in one run.
struct LoadedModule {
    wchar_t name[kMaxName];
    HMODULE module;
};
LoadedModule g_modules[kMaxModules];
int g_moduleCount = 0;
LazyLock g_lock;

HMODULE LoadFromSystemFolder(const wchar_t* name) {
    WString path = SystemFolderPath();
    if (path.IsEmpty()) return nullptr;
    path.Append(name);
    // The DLL's own imports must come from the system folder as well. Where
    // the entry point could restrict the search to it (SetDefaultDllDirectories
    // exists), the default search does that; elsewhere the altered search
    // order looks in the DLL's folder, the system folder, first.
    bool restricted = KernelFunction<FARPROC>("SetDefaultDllDirectories") != nullptr;
    return LoadLibraryExW(path.wc(), nullptr, restricted ? 0 : LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

HMODULE SystemLibrary(const wchar_t* name) {
    g_lock.Enter();
    HMODULE found = nullptr;
    bool known = false;
    for (int i = 0; i < g_moduleCount && !known; ++i) {
        if (lstrcmpiW(g_modules[i].name, name) == 0) {
            found = g_modules[i].module;
            known = found != nullptr;
        }
    }
    DWORD error = ERROR_SUCCESS;
    if (!known) {
        // A failed load is tried again next time: it may have failed only
        // because redirection was off on this thread.
        found = LoadFromSystemFolder(name);
        error = GetLastError();
        if (found && g_moduleCount < kMaxModules) {
            LoadedModule& entry = g_modules[g_moduleCount++];
            lstrcpynW(entry.name, name, kMaxName);
            entry.module = found;
        }
    }
    g_lock.Leave();
    if (!found) SetLastError(error == ERROR_SUCCESS ? ERROR_MOD_NOT_FOUND : error);
    return found;
}

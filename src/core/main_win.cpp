// Process entry: one Chainer on the stack, its exit code returned.
#include <windows.h>
#include <objbase.h>

#include "core/chainer_win.h"
#include "log/logger_win.h"
#include "platform/system_library_win.h"

namespace {

// The program is often started from a download folder, where anyone may
// leave a DLL. Before anything can load one, the program's own folder (for
// DLLs that system components load later) and the current folder leave the
// search: with SetDefaultDllDirectories only the system folder remains
// (Windows 8 and later, Vista and 7 with the loader update); otherwise
// SetDllDirectoryW(L"") takes the current folder out (XP SP1 and later).
// Safe search mode moves the current folder behind the system folders for
// SearchPathW. All three are looked up, each where it exists.
void RestrictDllSearch() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    typedef BOOL(WINAPI * SetDllDirectoryWFn)(LPCWSTR);
    typedef BOOL(WINAPI * SetSearchPathModeFn)(DWORD);
    const DWORD kSearchSystem32 = 0x00000800;           // LOAD_LIBRARY_SEARCH_SYSTEM32
    const DWORD kSafeSearchPermanent = 0x00000001 | 0x00008000;  // ENABLE | PERMANENT
    SetDefaultDllDirectoriesFn setDefault = KernelFunction<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
    if (!setDefault || !setDefault(kSearchSystem32)) {
        if (SetDllDirectoryWFn setDirectory = KernelFunction<SetDllDirectoryWFn>("SetDllDirectoryW"))
            setDirectory(L"");
    }
    if (SetSearchPathModeFn setMode = KernelFunction<SetSearchPathModeFn>("SetSearchPathMode"))
        setMode(kSafeSearchPermanent);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    RestrictDllSearch();
    HRESULT com = CoInitialize(nullptr);
    int32_t code;
    {
        Chainer chainer;
        chainer.Run();
        code = chainer.ExitCode();
    }
    TheLogger().Close();
    if (com == S_OK) CoUninitialize();
    return code;
}

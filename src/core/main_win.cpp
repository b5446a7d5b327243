// Process entry: one Chainer on the stack, its exit code returned.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "core/chainer_win.h"
#include "log/log.h"
#include "log/logger_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    HRESULT com = CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
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

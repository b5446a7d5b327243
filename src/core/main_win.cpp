// Process entry: one Chainer on the stack, its exit code returned.
#include <windows.h>
#include <objbase.h>

#include "core/chainer_win.h"
#include "log/logger_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
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

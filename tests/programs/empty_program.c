/* Baseline for start-up benchmarks: a windowed (GUI subsystem) program that
   does nothing, like the chainer without a configuration. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show) {
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    return 0;
}

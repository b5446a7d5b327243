/* Test program with a version resource (2.5.1.0) that exits with the code
   given as its first argument (0 without one). */
#include <windows.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) { return argc > 1 ? _wtoi(argv[1]) : 0; }

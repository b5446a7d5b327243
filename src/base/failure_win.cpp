// The hard failure of the Windows build: a non-continuable exception that
// carries the code, so that the process ends with it.
#include <windows.h>

#include "base/fatal.h"

[[noreturn]] void RaiseFailure(uint32_t code) {
    RaiseException(code, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    for (;;) ExitProcess(code);
}

// Global allocation for the Windows build: the process heap through the
// string allocator, failing hard with E_OUTOFMEMORY instead of throwing.
#include <stddef.h>

#include "base/fatal.h"

void* operator new(size_t bytes) {
    void* p = MemAlloc(bytes);
    if (!p) RaiseFailure(kHrOutOfMemory);
    return p;
}
void* operator new[](size_t bytes) { return operator new(bytes); }
void operator delete(void* p) noexcept { MemFree(p); }
void operator delete[](void* p) noexcept { MemFree(p); }
void operator delete(void* p, size_t) noexcept { MemFree(p); }
void operator delete[](void* p, size_t) noexcept { MemFree(p); }

// A pure virtual call is a programming error; end the process without the
// standard library's verbose terminate handler.
extern "C" void __cxa_pure_virtual() { RaiseFailure(kHrFail); }

// The one way the system fails hard: a string allocation that cannot be
// satisfied ends the process with an HRESULT-carrying exception.
#pragma once

#include <stdint.h>

constexpr uint32_t kHrFail = 0x80004005u;         // E_FAIL
constexpr uint32_t kHrOutOfMemory = 0x8007000Eu;  // E_OUTOFMEMORY
constexpr uint32_t kHrInvalidArg = 0x80070057u;   // E_INVALIDARG
constexpr uint32_t kArrayBoundsExceeded = 0xC000008Cu;

[[noreturn]] void RaiseFailure(uint32_t code);

// Raw memory used by strings and arrays; null when the heap is exhausted.
void* MemAlloc(size_t bytes);
void* MemRealloc(void* block, size_t bytes);
void MemFree(void* block);

// The raw memory of strings and arrays: the C heap, with a zero-byte request
// rounded up so that a success is never null.
#include <stdlib.h>

#include "base/fatal.h"

void* MemAlloc(size_t bytes) { return malloc(bytes ? bytes : 1); }
void* MemRealloc(void* block, size_t bytes) { return realloc(block, bytes ? bytes : 1); }
void MemFree(void* block) { free(block); }

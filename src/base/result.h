// Result codes: one convention for the whole program.
//
// - A function whose failure the caller reports, logs or passes on returns a
//   ResultCode and is [[nodiscard]]: kResultOk (0) is success; anything else
//   is a Win32 error code (ERROR_*), an HRESULT (0x8xxxxxxx, see fatal.h) or
//   one of the program's own codes (0xE00000xx, download/result_codes.h).
//   Windows answers DWORD, LONG or UINT codes; they are converted at the call
//   that receives them, never carried further in their own types.
// - A function whose failure has nothing to tell returns bool (true: done).
// - A fixed set of outcomes that is not an error code (the interboot store's
//   answers, the observer's kinds) has named constants beside its interface;
//   bare numbers stand only where they are the system's own values.
// - Memory: strings and arrays end the process with kHrOutOfMemory when the
//   heap is exhausted; a buffer of a system query that cannot be allocated
//   does the same. Array::Add alone drops the element and answers false.
#pragma once

#include <stdint.h>

typedef uint32_t ResultCode;

constexpr ResultCode kResultOk = 0;

// Registry data as text: the decoders of the bytes a value query returned.
// Portable, so that every rule is tested without the registry.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "base/wstr.h"

// The value types the decoders know (the system's numbers).
constexpr uint32_t kRegString = 1;        // REG_SZ
constexpr uint32_t kRegExpandString = 2;  // REG_EXPAND_SZ
constexpr uint32_t kRegDword = 4;         // REG_DWORD
constexpr uint32_t kRegMultiString = 7;   // REG_MULTI_SZ

// Any value as text: the three string types without their trailing NULs (not
// expanded), REG_DWORD (4 bytes at least) in unsigned decimal. False for
// other types.
bool DecodeValueText(uint32_t type, const uint8_t* data, size_t size, WString* text);
// A string value: REG_SZ or REG_EXPAND_SZ up to the first NUL; with
// multiString only REG_MULTI_SZ, inner NULs kept and trailing ones dropped.
// False for other types.
bool DecodeStringValue(uint32_t type, const uint8_t* data, size_t size, bool multiString, WString* text);
// The data as UTF-16 text up to its first NUL, whatever its type.
WString DecodeRawText(const uint8_t* data, size_t size);

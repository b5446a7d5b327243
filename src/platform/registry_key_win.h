// An open registry key with typed reads of its values. The bytes are decoded
// by the portable rules of registry_value.h.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/grow_retry.h"
#include "base/result.h"
#include "base/wstr.h"
#include "platform/unique_handle_win.h"

// A registry query's answer as a step of GrowAndRetry: ERROR_MORE_DATA asks
// for a larger buffer.
QueryStep RegistryQueryStep(LONG rc);

class RegistryKey {
public:
    RegistryKey() {}
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Opens root\path with the access given (view flags included); the key
    // held before is closed. kResultOk or the system's error.
    [[nodiscard]] ResultCode Open(HKEY root, const WString& path, REGSAM access);
    bool IsOpen() const { return key_.Valid(); }
    HKEY Get() const { return key_.Get(); }

    // Any value as text (DecodeValueText), read with a buffer of 200 bytes
    // that grows to the size the system reports for as long as it reports one.
    bool ReadText(const WString& name, WString* text) const;
    // A string value of at most maxBytes bytes (DecodeStringValue); a longer
    // one is not read.
    bool ReadString(const wchar_t* name, uint32_t maxBytes, bool multiString, WString* text) const;
    // A REG_DWORD value of exactly 4 bytes.
    bool ReadDword(const wchar_t* name, uint32_t* value) const;
    // The data as text up to its first NUL, whatever its type (DecodeRawText);
    // the buffer grows to the size the system reports, 8 times at most.
    bool ReadRawText(const WString& name, WString* text) const;

private:
    UniqueRegKey key_;
};

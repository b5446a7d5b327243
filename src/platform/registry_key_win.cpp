#include "platform/registry_key_win.h"

#include "base/grow_retry.h"
#include "platform/registry_value.h"

static_assert(kRegString == REG_SZ && kRegExpandString == REG_EXPAND_SZ && kRegDword == REG_DWORD &&
                  kRegMultiString == REG_MULTI_SZ,
              "the portable decoders use the system's type numbers");

QueryStep RegistryQueryStep(LONG rc) {
    if (rc == ERROR_SUCCESS) return QueryStep::kDone;
    return rc == ERROR_MORE_DATA ? QueryStep::kGrow : QueryStep::kFailed;
}

ResultCode RegistryKey::Open(HKEY root, const WString& path, REGSAM access) {
    LONG rc = RegOpenKeyExW(root, path.wc(), 0, access, key_.Receive());
    return static_cast<ResultCode>(rc);
}

bool RegistryKey::ReadText(const WString& name, WString* text) const {
    // The buffer is 2 bytes larger than the size offered to the system.
    QueryBuffer buffer;
    DWORD type = 0;
    DWORD size = 0;
    bool read = GrowAndRetry(200, 0, [&](uint32_t offered, uint32_t* needed) {
        size = offered;
        LONG rc = RegQueryValueExW(key_.Get(), name.wc(), nullptr, &type, buffer.Reserve(size_t(offered) + 2), &size);
        *needed = size + 2;
        return RegistryQueryStep(rc);
    });
    return read && DecodeValueText(type, buffer.Data(), size, text);
}

bool RegistryKey::ReadString(const wchar_t* name, uint32_t maxBytes, bool multiString, WString* text) const {
    QueryBuffer buffer;
    DWORD type = 0;
    DWORD size = maxBytes;
    if (RegQueryValueExW(key_.Get(), name, nullptr, &type, buffer.Reserve(maxBytes), &size) != ERROR_SUCCESS)
        return false;
    return DecodeStringValue(type, buffer.Data(), size < maxBytes ? size : maxBytes, multiString, text);
}

bool RegistryKey::ReadDword(const wchar_t* name, uint32_t* value) const {
    DWORD data = 0, type = 0, size = sizeof(data);
    if (RegQueryValueExW(key_.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(data))
        return false;
    *value = data;
    return true;
}

bool RegistryKey::ReadRawText(const WString& name, WString* text) const {
    // First the size alone; then a buffer of the reported size, grown while
    // the value grows.
    BYTE probe[2];
    DWORD size = 0;
    LONG rc = RegQueryValueExW(key_.Get(), name.wc(), nullptr, nullptr, probe, &size);
    if (rc == ERROR_SUCCESS) {
        text->Clear();  // empty data
        return true;
    }
    if (rc != ERROR_MORE_DATA) return false;
    QueryBuffer buffer;
    bool read = GrowAndRetry(size, 8, [&](uint32_t offered, uint32_t* needed) {
        size = offered;
        LONG status = RegQueryValueExW(key_.Get(), name.wc(), nullptr, nullptr, buffer.Reserve(offered), &size);
        *needed = size;
        if (size > offered) size = offered;
        return RegistryQueryStep(status);
    });
    if (!read) return false;
    *text = DecodeRawText(buffer.Data(), size);
    return true;
}

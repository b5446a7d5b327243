#include "platform/win_util.h"

#include "base/fatal.h"

WString SystemMessageText(uint32_t code) {
    UniqueLocal<wchar_t*> buffer;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(buffer.Receive()), 0, nullptr);
    WString text;
    if (n && buffer) text = WString(buffer.Get(), static_cast<int>(n));
    if (text.IsEmpty()) text.AppendDecimal(static_cast<int32_t>(code));
    return text;
}

HKEY RegistryRootFromName(const WString& name) {
    if (name.EqualsNoCase(u"HKLM") || name.EqualsNoCase(u"HKEY_LOCAL_MACHINE")) return HKEY_LOCAL_MACHINE;
    if (name.EqualsNoCase(u"HKCU") || name.EqualsNoCase(u"HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
    if (name.EqualsNoCase(u"HKCR") || name.EqualsNoCase(u"HKEY_CLASSES_ROOT")) return HKEY_CLASSES_ROOT;
    if (name.EqualsNoCase(u"HKCC") || name.EqualsNoCase(u"HKEY_CURRENT_CONFIG")) return HKEY_CURRENT_CONFIG;
    return HKEY_USERS;
}

bool SplitRegistryKeyPath(const WString& path, HKEY* root, WString* keyPath) {
    int slash = path.FindChar(u'\\');
    if (slash < 0) return false;
    *root = RegistryRootFromName(path.Left(slash));
    *keyPath = path.Mid(slash + 1);
    return true;
}

bool SplitRegistryValuePath(const WString& path, HKEY* root, WString* keyPath, WString* valueName) {
    int first = path.FindChar(u'\\');
    if (first < 0) return false;
    int last = path.FindLastChar(u'\\');
    *root = RegistryRootFromName(path.Left(first));
    *keyPath = first == last ? WString() : path.Substr(first + 1, last - first - 1);
    *valueName = path.Mid(last + 1);
    return true;
}

bool QueryRegistryValueText(HKEY key, const WString& valueName, WString* text) {
    DWORD size = 200;
    BYTE* buffer = nullptr;
    DWORD type = 0;
    LONG rc;
    for (;;) {
        BYTE* grown = static_cast<BYTE*>(MemRealloc(buffer, size + 2));
        if (!grown) {
            MemFree(buffer);
            RaiseFailure(kHrOutOfMemory);
        }
        buffer = grown;
        DWORD got = size;
        rc = RegQueryValueExW(key, valueName.wc(), nullptr, &type, buffer, &got);
        if (rc == ERROR_MORE_DATA) {
            size = got + 2;
            continue;
        }
        size = got;
        break;
    }
    bool ok = false;
    if (rc == ERROR_SUCCESS) {
        if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
            int units = static_cast<int>(size / 2);
            const wchar_t* chars = reinterpret_cast<const wchar_t*>(buffer);
            while (units > 0 && chars[units - 1] == 0) --units;
            *text = WString(chars, units);
            ok = true;
        } else if (type == REG_DWORD && size >= 4) {
            DWORD value;
            memcpy(&value, buffer, 4);
            text->Clear();
            text->AppendUnsigned(value);
            ok = true;
        }
    }
    MemFree(buffer);
    return ok;
}

WString ModuleFileName(HMODULE module) {
    DWORD capacity = MAX_PATH;
    for (;;) {
        WString path;
        wchar_t* buffer = path.GetWBuffer(static_cast<int>(capacity));
        DWORD n = GetModuleFileNameW(module, buffer, capacity);
        if (n == 0) return WString();
        if (n < capacity) {
            path.ReleaseBuffer(static_cast<int>(n));
            return path;
        }
        if (capacity >= 32768 * 2) return WString();
        capacity *= 2;
    }
}

WString LoadResourceString(UINT id) {
    const wchar_t* text = nullptr;
    int n = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(&text), 0);
    if (n <= 0 || !text) return WString();
    return WString(text, n);
}

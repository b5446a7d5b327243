#include "platform/win_util.h"

#include "base/fatal.h"
#include "base/grow_retry.h"

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

WString SystemFolderPath() {
    wchar_t folder[MAX_PATH];
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return WString();
    WString path(folder, static_cast<int>(n));
    if (path.Last() != u'\\') path.Append(u'\\');
    return path;
}

WString ModuleFileName(HMODULE module) {
    // The name is cut when it does not fit: double the buffer, up to 64 Ki
    // characters and more (9 tries from MAX_PATH).
    WString path;
    bool read = GrowAndRetry(MAX_PATH, 9, [&](uint32_t capacity, uint32_t*) {
        DWORD n = GetModuleFileNameW(module, path.GetWBuffer(static_cast<int>(capacity)), capacity);
        if (n == 0 || n >= capacity) {
            path.ReleaseBuffer(0);
            return n == 0 ? QueryStep::kFailed : QueryStep::kGrow;
        }
        path.ReleaseBuffer(static_cast<int>(n));
        return QueryStep::kDone;
    });
    return read ? path : WString();
}

DWORD WaitForExitCode(HANDLE process) {
    DWORD code = 0;
    if (WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code)) return code;
    code = GetLastError();
    return code == 0 ? ERROR_GEN_FAILURE : code;
}


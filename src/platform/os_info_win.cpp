#include <windows.h>

#include "platform/os_info.h"
#include "platform/win_util.h"

namespace {

// A string value of at most maxBytes bytes. Registry strings need not be
// NUL-terminated; the buffer is terminated here and the text ends at the
// first NUL (multi-strings keep their inner NULs, trailing ones dropped).
bool ReadTextValue(HKEY key, const wchar_t* name, DWORD maxBytes, bool multiString, WString* text) {
    WString buffer;
    const int units = static_cast<int>(maxBytes / 2) + 1;
    wchar_t* data = buffer.GetWBuffer(units);
    DWORD type = 0;
    DWORD size = maxBytes;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    if (rc != ERROR_SUCCESS) {
        buffer.ReleaseBuffer(0);
        return false;
    }
    int length = static_cast<int>(size / 2);
    if (length > units - 1) length = units - 1;
    data[length] = 0;
    bool accepted = multiString ? type == REG_MULTI_SZ : (type == REG_SZ || type == REG_EXPAND_SZ);
    if (!accepted) {
        buffer.ReleaseBuffer(0);
        return false;
    }
    if (!multiString) {
        int end = 0;
        while (end < length && data[end]) ++end;
        length = end;
    } else {
        while (length > 0 && data[length - 1] == 0) --length;
    }
    buffer.ReleaseBuffer(length);
    *text = buffer;
    return true;
}

bool ReadDwordValue(HKEY key, const wchar_t* name, uint32_t* value) {
    DWORD data = 0, type = 0, size = sizeof(data);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(data))
        return false;
    *value = data;
    return true;
}

typedef BOOL(WINAPI* IsWow64ProcessFn)(HANDLE, PBOOL);

bool RunsOn64BitWindows() {
    // A 64-bit program runs on 64-bit Windows only.
    if (sizeof(void*) == 8) return true;
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    if (!kernel) return false;
    IsWow64ProcessFn isWow64 =
        reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (!isWow64 || !isWow64(GetCurrentProcess(), &wow64)) return false;
    return wow64 != FALSE;
}

OsRegistryValues ReadOsRegistryValues() {
    OsRegistryValues v;
    UniqueRegKey version;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion", 0,
                      KEY_READ | KEY_WOW64_64KEY, version.Receive()) == ERROR_SUCCESS) {
        v.haveMajorNumber = ReadDwordValue(version.Get(), L"CurrentMajorVersionNumber", &v.majorNumber);
        v.haveMinorNumber = ReadDwordValue(version.Get(), L"CurrentMinorVersionNumber", &v.minorNumber);
        if (!v.haveMajorNumber || v.majorNumber == 0)
            v.haveCurrentVersion = ReadTextValue(version.Get(), L"CurrentVersion", 32, false, &v.currentVersion);
        v.haveBuildNumber = ReadTextValue(version.Get(), L"CurrentBuildNumber", 520, false, &v.buildNumber);
        v.haveBuildBranch = ReadTextValue(version.Get(), L"BuildBranch", 520, false, &v.buildBranch);
        v.haveReleaseId = ReadTextValue(version.Get(), L"ReleaseId", 520, false, &v.releaseId);
        v.haveCsdVersion = ReadTextValue(version.Get(), L"CSDVersion", 520, false, &v.csdVersion);
    }
    UniqueRegKey options;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions", 0,
                      KEY_READ | KEY_WOW64_64KEY, options.Receive()) == ERROR_SUCCESS) {
        v.haveProductType = ReadTextValue(options.Get(), L"ProductType", 520, false, &v.productType);
        v.haveProductSuite = ReadTextValue(options.Get(), L"ProductSuite", 2048, true, &v.productSuite);
    }
    return v;
}

OnceFlag g_osInfoOnce;
OsInfo g_osInfo;
OnceFlag g_detailedOnce;
WString g_detailedName;
OnceFlag g_genericOnce;
WString g_genericName;

}  // namespace

const OsInfo& GetOsInfo() {
    g_osInfoOnce.Run([] { BuildOsInfo(ReadOsRegistryValues(), RunsOn64BitWindows(), &g_osInfo); });
    return g_osInfo;
}

const WString& OsDetailedName() {
    g_detailedOnce.Run([] { g_detailedName = OsDetailedNameOf(GetOsInfo()); });
    return g_detailedName;
}

const WString& OsGenericName() {
    g_genericOnce.Run([] { g_genericName = OsGenericNameOf(GetOsInfo()); });
    return g_genericName;
}

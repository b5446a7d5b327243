#include <windows.h>

#include "platform/os_info.h"
#include "platform/registry_key_win.h"
#include "platform/system_library_win.h"
#include "platform/win_util.h"

namespace {

typedef BOOL(WINAPI* IsWow64ProcessFn)(HANDLE, PBOOL);

bool RunsOn64BitWindows() {
    // A 64-bit program runs on 64-bit Windows only.
    if (sizeof(void*) == 8) return true;
    IsWow64ProcessFn isWow64 = KernelFunction<IsWow64ProcessFn>("IsWow64Process");
    BOOL wow64 = FALSE;
    if (!isWow64 || !isWow64(GetCurrentProcess(), &wow64)) return false;
    return wow64 != FALSE;
}

OsRegistryValues ReadOsRegistryValues() {
    OsRegistryValues v;
    RegistryKey version;
    if (version.Open(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows NT\\CurrentVersion",
                     KEY_READ | KEY_WOW64_64KEY) == kResultOk) {
        v.haveMajorNumber = version.ReadDword(L"CurrentMajorVersionNumber", &v.majorNumber);
        v.haveMinorNumber = version.ReadDword(L"CurrentMinorVersionNumber", &v.minorNumber);
        if (!v.haveMajorNumber || v.majorNumber == 0)
            v.haveCurrentVersion = version.ReadString(L"CurrentVersion", 32, false, &v.currentVersion);
        v.haveBuildNumber = version.ReadString(L"CurrentBuildNumber", 520, false, &v.buildNumber);
        v.haveBuildBranch = version.ReadString(L"BuildBranch", 520, false, &v.buildBranch);
        v.haveReleaseId = version.ReadString(L"ReleaseId", 520, false, &v.releaseId);
        v.haveCsdVersion = version.ReadString(L"CSDVersion", 520, false, &v.csdVersion);
    }
    RegistryKey options;
    if (options.Open(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\ProductOptions",
                     KEY_READ | KEY_WOW64_64KEY) == kResultOk) {
        v.haveProductType = options.ReadString(L"ProductType", 520, false, &v.productType);
        v.haveProductSuite = options.ReadString(L"ProductSuite", 2048, true, &v.productSuite);
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

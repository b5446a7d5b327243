/* The demo prerequisite: a tiny "runtime" installer. Installing it records
   its version under HKCU\Software\CorvaneDemo, where the demo package's
   search finds it. It honours /quiet (no window in any case) and exits 0. */
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    HKEY key;
    (void)argc;
    (void)argv;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\CorvaneDemo", 0, NULL, 0, KEY_SET_VALUE, NULL, &key,
                        NULL) != ERROR_SUCCESS)
        return 1603;
    static const wchar_t version[] = L"1.2.0";
    LONG rc = RegSetValueExW(key, L"Version", 0, REG_SZ, (const BYTE*)version, sizeof version);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : 1603;
}

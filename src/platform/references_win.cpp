#include "platform/references_win.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "base/fatal.h"
#include "platform/fileops_win.h"
#include "platform/registry_key_win.h"
#include "platform/system_library_win.h"
#include "platform/version_resource_win.h"
#include "platform/win_util.h"

namespace {

typedef HRESULT(WINAPI* SHGetFolderPathWFn)(HWND, int, HANDLE, DWORD, LPWSTR);
typedef HRESULT(CALLBACK* DllGetVersionFn)(DLLVERSIONINFO*);

// "shfolder.dll" and its SHGetFolderPathW entry: loaded on first need, kept
// until the process ends.
OnceFlag g_shfolderOnce;
SHGetFolderPathWFn g_shGetFolderPath = nullptr;

SHGetFolderPathWFn ShFolderEntry() {
    g_shfolderOnce.Run([] {
        g_shGetFolderPath = SystemFunction<SHGetFolderPathWFn>(L"shfolder.dll", "SHGetFolderPathW");
    });
    return g_shGetFolderPath;
}

// Major version of a shell DLL: its DllGetVersion answer, or, lacking that,
// the file version of the module. 0 when neither can be had.
DWORD ShellDllMajorVersion(const wchar_t* dllName) {
    HMODULE module = SystemLibrary(dllName);
    if (!module) return 0;
    DllGetVersionFn getVersion = ModuleFunction<DllGetVersionFn>(module, "DllGetVersion");
    if (getVersion) {
        DLLVERSIONINFO info = {};
        info.cbSize = sizeof(info);
        if (SUCCEEDED(getVersion(&info))) return info.dwMajorVersion;
    }
    VersionResource resource;
    VS_FIXEDFILEINFO fixed;
    if (!resource.Read(ModuleFileName(module)) || !resource.FixedInfo(&fixed)) return 0;
    return HIWORD(fixed.dwFileVersionMS);
}

OnceFlag g_shellVersionOnce;
bool g_shellIsVersion5 = false;

bool ShellIsVersion5OrLater() {
    g_shellVersionOnce.Run([] {
        g_shellIsVersion5 = ShellDllMajorVersion(L"Shlwapi.dll") >= 5 || ShellDllMajorVersion(L"Shell32.dll") >= 5;
    });
    return g_shellIsVersion5;
}

// The folder of the running program with its trailing backslash, computed
// once.
OnceFlag g_programFolderOnce;
WString g_programFolder;

const WString& ProgramFolder() {
    g_programFolderOnce.Run([] {
        WString path = ModuleFileName();
        g_programFolder = path.Left(path.FindLastChar(u'\\') + 1);
    });
    return g_programFolder;
}

WString EnvironmentText(const WString& name) {
    WString value;
    GetEnvVariable(name, &value);
    return value;
}

// A fixed-size system answer: the count of units written, 0 on failure, or
// a count not below the buffer when the buffer was too small.
template <typename F>
bool FixedBufferText(F call, WString* value) {
    WString text;
    UINT n = call(text.GetWBuffer(MAX_PATH), static_cast<UINT>(MAX_PATH));
    if (n == 0 || n >= MAX_PATH) return false;
    text.ReleaseBuffer(static_cast<int>(n));
    *value = text;
    return true;
}

struct CsidlName {
    const char16_t* name;
    int csidl;
};

const CsidlName kCsidlNames[] = {
    {u"ProgramFilesFolder", CSIDL_PROGRAM_FILES},
    {u"CommonFilesFolder", CSIDL_PROGRAM_FILES_COMMON},
    {u"DesktopFolder", CSIDL_DESKTOPDIRECTORY},
    {u"AllUsersDesktopFolder", CSIDL_COMMON_DESKTOPDIRECTORY},
    {u"AppDataFolder", CSIDL_APPDATA},
    {u"FavoritesFolder", CSIDL_FAVORITES},
    {u"StartMenuFolder", CSIDL_STARTMENU},
    {u"ProgramMenuFolder", CSIDL_PROGRAMS},
    {u"StartupFolder", CSIDL_STARTUP},
    {u"FontsFolder", CSIDL_FONTS},
    {u"LocalAppDataFolder", CSIDL_LOCAL_APPDATA},
    {u"CommonAppDataFolder", CSIDL_COMMON_APPDATA},
    {u"ProgramFiles64Folder", CSIDL_PROGRAM_FILES},
    {u"ProgramFiles", CSIDL_PROGRAM_FILES},
};

bool ShellFolderPath(const WString& name, int csidl, WString* value) {
    LPITEMIDLIST items = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) && items) {
        WString path;
        BOOL converted = SHGetPathFromIDListW(items, path.GetWBuffer(MAX_PATH));
        path.ReleaseBuffer(converted ? -1 : 0);
        UniqueCom<IMalloc> allocator;
        if (SUCCEEDED(SHGetMalloc(allocator.Receive())) && allocator) allocator.Get()->Free(items);
        if (!converted || path.IsEmpty()) return false;
        *value = path;
        return true;
    }

    if (SHGetFolderPathWFn getFolderPath = ShFolderEntry()) {
        WString path;
        HRESULT hr = getFolderPath(nullptr, csidl, nullptr, 0, path.GetWBuffer(MAX_PATH));
        path.ReleaseBuffer(SUCCEEDED(hr) ? -1 : 0);
        if (SUCCEEDED(hr) && !path.IsEmpty()) {
            *value = path;
            return true;
        }
    }

    // Shells before version 5 know few special folders; the environment
    // stands in for the two that setups ask for most.
    if (ShellIsVersion5OrLater()) return false;
    WString fallback;
    if (name == u"ProgramFilesFolder" || name == u"ProgramFiles") fallback = EnvironmentText(u"PROGRAMFILES");
    else if (name == u"AppDataFolder") fallback = EnvironmentText(u"APPDATA");
    if (fallback.IsEmpty()) return false;
    *value = fallback;
    return true;
}

bool ResolveUnterminated(const WString& name, bool use64BitView, WString* value) {
    if (name == u"ProgramFiles64Folder") {
        WString path = EnvironmentText(u"ProgramW6432");
        if (!path.IsEmpty()) {
            *value = path;
            return true;
        }
        // Not a 64-bit system: the CSIDL row below answers.
    } else if (name == u"SystemFolder") {
        SHGetFolderPathWFn getFolderPath = ShFolderEntry();
        if (!getFolderPath) return false;
        WString path;
        HRESULT hr = getFolderPath(nullptr, use64BitView ? CSIDL_SYSTEM : CSIDL_SYSTEMX86, nullptr, 0,
                                   path.GetWBuffer(MAX_PATH));
        path.ReleaseBuffer(SUCCEEDED(hr) ? -1 : 0);
        if (FAILED(hr) || path.IsEmpty()) return false;
        *value = path;
        return true;
    } else if (name == u"System32Folder") {
        return FixedBufferText([](wchar_t* b, UINT n) { return GetSystemDirectoryW(b, n); }, value);
    } else if (name == u"WindowsFolder") {
        return FixedBufferText([](wchar_t* b, UINT n) { return GetWindowsDirectoryW(b, n); }, value);
    } else if (name == u"WindowsVolume") {
        WString windows;
        if (!FixedBufferText([](wchar_t* b, UINT n) { return GetWindowsDirectoryW(b, n); }, &windows) ||
            windows.Length() < 3)
            return false;
        *value = windows.Left(3);
        return true;
    } else if (name == u"TempFolder") {
        return FixedBufferText([](wchar_t* b, UINT n) { return static_cast<UINT>(GetTempPathW(n, b)); }, value);
    } else if (name == u"SETUPEXEDIR") {
        if (ProgramFolder().IsEmpty()) return false;
        *value = ProgramFolder();
        return true;
    }
    for (const CsidlName& entry : kCsidlNames)
        if (name == entry.name) return ShellFolderPath(name, entry.csidl, value);
    return false;
}

class SystemResolver : public ReferenceResolver {
public:
    bool FolderProperty(const WString& name, bool use64BitView, WString* value) override {
        return ResolveFolderProperty(name, use64BitView, value);
    }
    WString EnvironmentVariable(const WString& name) override { return EnvironmentText(name); }
    WString RegistryValue(const WString& path, bool use64BitView) override {
        HKEY root;
        WString keyPath, valueName;
        if (!SplitRegistryValuePath(path, &root, &keyPath, &valueName)) return WString();
        RegistryKey key;
        REGSAM access = KEY_QUERY_VALUE | (use64BitView ? KEY_WOW64_64KEY : 0);
        if (key.Open(root, keyPath, access) != kResultOk) return WString();
        WString text;
        if (!key.ReadText(valueName, &text)) return WString();
        return text;
    }
};

SystemResolver g_systemResolver;

}  // namespace

ReferenceResolver& SystemReferences() { return g_systemResolver; }

WString ExpandSystemReferences(const WString& text, bool use64BitView) {
    return ExpandReferences(text, use64BitView, SystemReferences());
}

bool ResolveFolderProperty(const WString& name, bool use64BitView, WString* value) {
    WString found;
    if (!ResolveUnterminated(name, use64BitView, &found)) return false;
    if (found.Last() != u'\\') found.Append(u'\\');
    *value = found;
    return true;
}

namespace {
class FolderPropertiesOnly : public ReferenceResolver {
public:
    bool FolderProperty(const WString& name, bool use64BitView, WString* value) override {
        return ResolveFolderProperty(name, use64BitView, value);
    }
    WString EnvironmentVariable(const WString& name) override { return u"%" + name + u"%"; }
    WString RegistryValue(const WString& path, bool) override { return u"!" + path + u"!"; }
};
}  // namespace

WString ExpandFolderProperties(const WString& text, bool use64BitView) {
    FolderPropertiesOnly resolver;
    return ExpandReferences(text, use64BitView, resolver);
}

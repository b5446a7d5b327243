#include "platform/version_resource_win.h"

#include "base/fatal.h"
#include "platform/system_library_win.h"
#include "platform/win_util.h"

namespace {

typedef DWORD(WINAPI* GetFileVersionInfoSizeWFn)(LPCWSTR, LPDWORD);
typedef BOOL(WINAPI* GetFileVersionInfoWFn)(LPCWSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* VerQueryValueWFn)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

struct VersionEntries {
    GetFileVersionInfoSizeWFn infoSize = nullptr;
    GetFileVersionInfoWFn info = nullptr;
    VerQueryValueWFn query = nullptr;
};

OnceFlag g_versionOnce;
VersionEntries g_version;

const VersionEntries& Entries() {
    g_versionOnce.Run([] {
        HMODULE module = SystemLibrary(L"version.dll");
        VersionEntries found;
        found.infoSize = ModuleFunction<GetFileVersionInfoSizeWFn>(module, "GetFileVersionInfoSizeW");
        found.info = ModuleFunction<GetFileVersionInfoWFn>(module, "GetFileVersionInfoW");
        found.query = ModuleFunction<VerQueryValueWFn>(module, "VerQueryValueW");
        if (found.infoSize && found.info && found.query) g_version = found;
    });
    return g_version;
}

}  // namespace

bool VersionFunctionsAvailable() { return Entries().query != nullptr; }

VersionResource::~VersionResource() { MemFree(block_); }

bool VersionResource::Read(const WString& path) {
    MemFree(block_);
    block_ = nullptr;
    const VersionEntries& entries = Entries();
    if (!entries.query || path.IsEmpty()) return false;
    DWORD ignored = 0;
    DWORD size = entries.infoSize(path.wc(), &ignored);
    if (size == 0) return false;
    void* block = MemAlloc(size);
    if (!block) RaiseFailure(kHrOutOfMemory);
    if (!entries.info(path.wc(), 0, size, block)) {
        MemFree(block);
        return false;
    }
    block_ = block;
    return true;
}

bool VersionResource::Query(const WString& subBlock, void** value, UINT* length) const {
    *value = nullptr;
    *length = 0;
    return block_ && Entries().query(block_, subBlock.wc(), value, length) && *value;
}

bool VersionResource::FixedInfo(VS_FIXEDFILEINFO* info) const {
    void* value;
    UINT length;
    if (!Query(WString(u"\\"), &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) return false;
    *info = *static_cast<const VS_FIXEDFILEINFO*>(value);
    return true;
}

WString VersionResource::StringValue(const char16_t* name) const {
    unsigned language = 1033;
    unsigned codePage = 1250;
    void* value;
    UINT length;
    if (Query(WString(u"\\VarFileInfo\\Translation"), &value, &length) && length >= 4) {
        const WORD* pair = static_cast<const WORD*>(value);
        language = pair[0];
        codePage = pair[1];
    }
    WString key = Format(u"\\StringFileInfo\\%04x%04x\\%s", language, codePage, WString(name));
    if (!Query(key, &value, &length) || length == 0) return WString();
    // The length counts characters and includes the terminating NUL.
    const char16_t* text = static_cast<const char16_t*>(value);
    int n = 0;
    while (n < static_cast<int>(length) && text[n]) ++n;
    return WString(text, n);
}

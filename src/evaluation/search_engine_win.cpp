#include "evaluation/search_engine_win.h"

#include <windows.h>

#include "base/grow_retry.h"
#include "base/owned.h"
#include "config/package_locator.h"
#include "evaluation/content_test.h"
#include "evaluation/search_rules.h"
#include "platform/fileops_win.h"
#include "platform/os_info.h"
#include "platform/path_rules.h"
#include "platform/process_runner_win.h"
#include "platform/references_win.h"
#include "platform/registry_key_win.h"
#include "platform/system_library_win.h"
#include "platform/version_resource_win.h"
#include "platform/win_util.h"

namespace {

const PackageLocator* g_packageLocator = nullptr;

// ---------------------------------------------------------------------------
// Registry

// Types 1, 2 and 5 to 9 use the 64-bit view only on a 64-bit system (older
// systems refuse the flag); type 12 asks for it whenever the prerequisite does.
REGSAM RegistryAccess(int32_t type, bool use64BitView) {
    REGSAM access = KEY_READ;
    if (use64BitView && (type == kSearchRegistryValueNames || GetOsInfo().Is64BitOs)) access |= KEY_WOW64_64KEY;
    return access;
}

bool OpenKey(HKEY root, const WString& keyPath, REGSAM access, RegistryKey* key) {
    return key->Open(root, keyPath, access) == kResultOk;
}

bool OpenSearchKey(const WString& path, REGSAM access, RegistryKey* key) {
    HKEY root;
    WString keyPath;
    if (!SplitRegistryKeyPath(path, &root, &keyPath)) return false;
    return OpenKey(root, keyPath, access, key);
}

bool OpenSearchValueKey(const WString& path, REGSAM access, RegistryKey* key, WString* valueName) {
    HKEY root;
    WString keyPath;
    if (!SplitRegistryValuePath(path, &root, &keyPath, valueName)) return false;
    return OpenKey(root, keyPath, access, key);
}

// Names of all direct subkeys, or of all values; the name buffer doubles
// when a name does not fit, as long as it is below the limit. The enumeration
// ends at the first name that cannot be read.
void CollectNames(HKEY key, bool valueNames, Array<WString>* names) {
    uint32_t capacity = valueNames ? 16383 + 1 : MAX_PATH;
    const uint32_t limit = valueNames ? 65536 : 32768;
    WString name;
    for (DWORD index = 0;; ++index) {
        bool read = GrowAndRetry(capacity, 0, [&](uint32_t size, uint32_t*) {
            DWORD length = size;
            wchar_t* buffer = name.GetWBuffer(static_cast<int>(size));
            LONG rc = valueNames ? RegEnumValueW(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr)
                                 : RegEnumKeyExW(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
            name.ReleaseBuffer(rc == ERROR_SUCCESS ? static_cast<int>(length) : 0);
            if (rc == ERROR_MORE_DATA && size >= limit) return QueryStep::kFailed;
            if (rc == ERROR_MORE_DATA) capacity = size * 2;  // later names start from the larger buffer
            return RegistryQueryStep(rc);
        });
        if (!read) break;
        names->Add(name);
    }
}

void SearchRegistry(const SearchEntry& search, bool use64BitView, SearchOutcome* outcome) {
    REGSAM access = RegistryAccess(search.SearchType, use64BitView);
    RegistryKey key;
    WString valueName;
    switch (search.SearchType) {
        case kSearchRegistrySubkeys:
        case kSearchRegistryValueNames:
            if (OpenSearchKey(search.SearchString, access, &key))
                CollectNames(key.Get(), search.SearchType == kSearchRegistryValueNames, &outcome->FoundValues);
            break;
        case kSearchRegistryValueVersion:
            if (OpenSearchValueKey(search.SearchString, access, &key, &valueName)) {
                WString text;
                if (key.ReadRawText(valueName, &text)) outcome->FoundValues.Add(text);
            }
            break;
        case kSearchRegistryKeyExists:
            outcome->Found = OpenSearchKey(search.SearchString, access, &key);
            break;
        case kSearchRegistryKeyAbsent:
            outcome->Found = !OpenSearchKey(search.SearchString, access, &key);
            break;
        case kSearchRegistryValueExists:
        case kSearchRegistryValueAbsent: {
            bool exists = OpenSearchValueKey(search.SearchString, access, &key, &valueName) &&
                          RegQueryValueExW(key.Get(), valueName.wc(), nullptr, nullptr, nullptr, nullptr) ==
                              ERROR_SUCCESS;
            outcome->Found = search.SearchType == kSearchRegistryValueExists ? exists : !exists;
            break;
        }
        case kSearchRegistryValueContent:
            if (OpenSearchValueKey(search.SearchString, access, &key, &valueName) &&
                key.ReadText(valueName, &outcome->Content)) {
                outcome->Found = ContentTestPasses(outcome->Content, search.RefContent);
            }
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------------------
// Windows Installer, loaded on first use and kept for the process.

typedef UINT(WINAPI* MsiGetProductInfoWFn)(LPCWSTR, LPCWSTR, LPWSTR, LPDWORD);
typedef int(WINAPI* MsiLocateComponentWFn)(LPCWSTR, LPWSTR, LPDWORD);
typedef UINT(WINAPI* MsiEnumRelatedProductsWFn)(LPCWSTR, DWORD, DWORD, LPWSTR);

struct MsiEntries {
    MsiGetProductInfoWFn getProductInfo = nullptr;
    MsiLocateComponentWFn locateComponent = nullptr;
    MsiEnumRelatedProductsWFn enumRelatedProducts = nullptr;
};

OnceFlag g_msiOnce;
MsiEntries g_msi;

const MsiEntries& Msi() {
    g_msiOnce.Run([] {
        HMODULE module = SystemLibrary(L"msi.dll");
        // The installer library's functions are imported by ordinal.
        g_msi.getProductInfo = ModuleFunction<MsiGetProductInfoWFn>(module, MAKEINTRESOURCEA(70));
        g_msi.locateComponent = ModuleFunction<MsiLocateComponentWFn>(module, MAKEINTRESOURCEA(90));
        g_msi.enumRelatedProducts = ModuleFunction<MsiEnumRelatedProductsWFn>(module, MAKEINTRESOURCEA(205));
    });
    return g_msi;
}

const UINT kMsiMoreData = 234;         // ERROR_MORE_DATA
const int kInstallStateMoreData = -3;  // INSTALLSTATE_MOREDATA
const int kInstallStateLocal = 3;
const int kInstallStateSource = 4;

bool ProductVersion(const WString& productCode, WString* version) {
    const MsiEntries& msi = Msi();
    if (!msi.getProductInfo) return false;
    wchar_t probe[1] = {0};
    DWORD length = 0;
    UINT rc = msi.getProductInfo(productCode.wc(), L"VersionString", probe, &length);
    if (rc == kMsiMoreData) {
        DWORD capacity = length + 1;
        length = capacity;
        rc = msi.getProductInfo(productCode.wc(), L"VersionString", version->GetWBuffer(static_cast<int>(capacity)),
                                &length);
        version->ReleaseBuffer(rc == ERROR_SUCCESS && length < capacity ? static_cast<int>(length) : 0);
    } else if (rc == ERROR_SUCCESS) {
        version->Clear();
    }
    return rc == ERROR_SUCCESS;
}

void SearchMsiProduct(const WString& productCode, SearchOutcome* outcome) {
    WString version;
    if (ProductVersion(productCode, &version)) outcome->FoundValues.Add(version);
}

void SearchMsiUpgradeCode(const WString& upgradeCode, SearchOutcome* outcome) {
    const MsiEntries& msi = Msi();
    if (!msi.enumRelatedProducts) return;
    for (DWORD index = 0;; ++index) {
        wchar_t product[39] = {0};
        if (msi.enumRelatedProducts(upgradeCode.wc(), 0, index, product) != ERROR_SUCCESS) break;
        product[38] = 0;
        SearchMsiProduct(WString(product), outcome);
    }
}

bool MsiComponentInstalled(const WString& componentCode) {
    const MsiEntries& msi = Msi();
    if (!msi.locateComponent) return false;
    wchar_t probe[1] = {0};
    DWORD length = 0;
    int state = msi.locateComponent(componentCode.wc(), probe, &length);
    if (state == kInstallStateMoreData) {
        WString path;
        DWORD capacity = length + 1;
        length = capacity;
        state = msi.locateComponent(componentCode.wc(), path.GetWBuffer(static_cast<int>(capacity)), &length);
        path.ReleaseBuffer(0);
    }
    return state == kInstallStateLocal || state == kInstallStateSource;
}

// ---------------------------------------------------------------------------
// Program exit code

bool ProgramExitsWithZero(const SearchEntry& search) {
    int32_t result = 0;
    WString program;
    if (g_packageLocator) {
        program = g_packageLocator->LocateNamedFile(search.SearchString, &result);
    } else {
        PackageLocator besideExecutable;
        besideExecutable.Configure(ModuleFileName(), WString());
        program = besideExecutable.LocateNamedFile(search.SearchString, &result);
    }
    if (result != 0) return false;
    WString arguments = ExpandSystemReferences(search.SearchCmdLine, false);
    int show = search.RefContent == u"WND_HIDE" ? SW_HIDE : SW_SHOWNORMAL;
    ShellRunResult run = ShellOpenAndWait(program, arguments, ParentFolder(program), show);
    // Without a process there is no exit code to trust.
    return run.started && run.hadProcess && run.exitCode == 0;
}

// ---------------------------------------------------------------------------
// File versions

// The 64-bit file system seen from this 32-bit process, for one search; the
// functions exist only on 64-bit capable systems.
class RedirectionOff {
public:
    explicit RedirectionOff(bool wanted) {
        if (!wanted) return;
        typedef BOOL(WINAPI * DisableFn)(PVOID*);
        DisableFn disable = KernelFunction<DisableFn>("Wow64DisableWow64FsRedirection");
        revert_ = KernelFunction<RevertFn>("Wow64RevertWow64FsRedirection");
        if (disable && revert_) switchedOff_ = disable(&state_) != FALSE;
    }
    ~RedirectionOff() {
        if (switchedOff_) revert_(state_);
    }
    RedirectionOff(const RedirectionOff&) = delete;
    RedirectionOff& operator=(const RedirectionOff&) = delete;

private:
    typedef BOOL(WINAPI* RevertFn)(PVOID);
    RevertFn revert_ = nullptr;
    PVOID state_ = nullptr;
    bool switchedOff_ = false;
};

// The fixed file version of a file's version resource, "0.0.0.0" without one;
// false (nothing to collect) when the version functions are missing.
bool FileVersionText(const WString& path, WString* text) {
    if (!VersionFunctionsAvailable()) return CollectedFileVersion(FileVersionRead::kReaderMissing, 0, 0, text);
    VersionResource resource;
    VS_FIXEDFILEINFO info;
    if (!resource.Read(path) || !resource.FixedInfo(&info))
        return CollectedFileVersion(FileVersionRead::kNoResource, 0, 0, text);
    return CollectedFileVersion(FileVersionRead::kRead, info.dwFileVersionMS, info.dwFileVersionLS, text);
}

// Roots of the fixed drives, from a drive-string buffer that grows to the
// size the system asks for.
Array<WString> FixedDriveRoots() {
    Array<WString> roots;
    WString buffer;
    DWORD length = 0;
    bool read = GrowAndRetry(100, 8, [&](uint32_t capacity, uint32_t* needed) {
        length = GetLogicalDriveStringsW(capacity, buffer.GetWBuffer(static_cast<int>(capacity)));
        if (length == 0) return QueryStep::kFailed;
        if (length <= capacity) return QueryStep::kDone;
        *needed = length + 1;
        return QueryStep::kGrow;
    });
    if (!read) return roots;
    buffer.ReleaseBuffer(static_cast<int>(length));
    const char16_t* p = buffer.c_str();
    const char16_t* end = p + buffer.Length();
    while (p < end && *p) {
        WString root(p);
        if (GetDriveTypeW(root.wc()) == DRIVE_FIXED) roots.Add(root);
        p += root.Length() + 1;
    }
    return roots;
}

// One level of the folder walk: the folder listing still to be visited and
// the depth left below it.
struct WalkLevel {
    WString folder;
    int32_t depth;
    Owned<FileFinder> listing;
};

// Looks for folder + name, then in the subfolders down to depth levels, and
// stops at the first file whose version passes the walk's range test. The
// walk keeps its levels on the heap, so a deep tree cannot exhaust the stack.
class FolderWalk {
public:
    FolderWalk(const SearchRange& range, Array<WString>* versions) : range_(range), versions_(versions) {}
    FolderWalk(const FolderWalk&) = delete;
    FolderWalk& operator=(const FolderWalk&) = delete;

    bool Run(const WString& folder, int32_t depth, const WString& name) {
        name_ = name;
        if (Visit(folder, depth)) return true;
        while (!levels_.IsEmpty()) {
            WalkLevel& level = levels_[levels_.Size() - 1];
            FileFinder* listing = level.listing.Get();
            if (!listing->Found()) {
                levels_.RemoveAt(levels_.Size() - 1);
                continue;
            }
            WString next;
            if (listing->IsDirectory() && !listing->IsDots()) next = level.folder + listing->Name();
            int32_t depth = level.depth - 1;
            listing->Next();
            if (!next.IsEmpty() && Visit(next, depth)) return true;
        }
        return false;
    }

private:
    // Tests the file in one folder and queues the folder's listing when the
    // walk goes deeper; true when an acceptable file was found.
    bool Visit(WString folder, int32_t depth) {
        if (folder.Last() != u'\\') folder.Append(u'\\');
        WString path = folder + name_;
        bool exists;
        {
            FileFinder probe(path);
            exists = probe.Found();
        }
        WString text;
        if (exists && FileVersionText(path, &text)) {
            VersionValue version = ParseVersion(text);
            versions_->Add(FormatVersion(version));
            if (InRangeWalk(version, range_.minimum, range_.maximum)) return true;
        }
        if (depth > 0) {
            WalkLevel level;
            level.folder = folder;
            level.depth = depth;
            level.listing = Owned<FileFinder>(new FileFinder(folder + u"*"));
            levels_.Add(static_cast<WalkLevel&&>(level));
        }
        return false;
    }

    const SearchRange& range_;
    Array<WString>* versions_;
    WString name_;
    Array<WalkLevel> levels_;
};

void SearchFileVersion(const SearchEntry& search, bool use64BitView, const SearchRange& range,
                       SearchOutcome* outcome) {
    WString pathPart, suffix;
    SplitDepthSuffix(search.SearchString, &pathPart, &suffix);
    Array<WString> candidates;
    if (IsPathLikeFileSearch(pathPart)) {
        candidates.Add(search.SearchString);
    } else {
        for (const WString& root : FixedDriveRoots()) candidates.Add(root + pathPart + suffix);
    }

    // Everything that may load a DLL happens before redirection is switched
    // off: the references' expansion (shell folders, shell version) and the
    // version functions. With redirection off the system folder of a 32-bit
    // process names the 64-bit DLLs, and their loading would fail.
    Array<WString> folders, names;
    Array<int32_t> depths;
    for (const WString& candidate : candidates) {
        WString path, depthSuffix;
        SplitDepthSuffix(candidate, &path, &depthSuffix);
        depths.Add(DepthOfSuffix(depthSuffix));
        path = ExpandSystemReferences(path, use64BitView);
        int slash = path.FindLastChar(u'\\');
        folders.Add(path.Left(slash + 1));
        names.Add(path.Mid(slash + 1));
    }
    VersionFunctionsAvailable();

    RedirectionOff redirection(use64BitView);
    for (int i = 0; i < folders.Size() && i < names.Size() && i < depths.Size(); ++i) {
        FolderWalk walk(range, &outcome->FoundValues);
        if (walk.Run(folders[i], depths[i], names[i])) break;
    }
}

}  // namespace

void SetSearchPackageLocator(const PackageLocator* locator) { g_packageLocator = locator; }

SearchOutcome RunSearch(const SearchEntry& search, bool use64BitView) {
    SearchOutcome outcome;
    SearchRange range(search.VerMin, search.VerMax);
    switch (search.SearchType) {
        case kSearchFileVersion:
            SearchFileVersion(search, use64BitView, range, &outcome);
            outcome.Found = FoundValuesAcceptable(outcome.FoundValues, range);
            break;
        case kSearchRegistrySubkeys:
        case kSearchRegistryValueVersion:
        case kSearchRegistryValueNames:
            SearchRegistry(search, use64BitView, &outcome);
            outcome.Found = FoundValuesAcceptable(outcome.FoundValues, range);
            break;
        case kSearchRegistryKeyExists:
        case kSearchRegistryKeyAbsent:
        case kSearchRegistryValueExists:
        case kSearchRegistryValueAbsent:
        case kSearchRegistryValueContent:
            SearchRegistry(search, use64BitView, &outcome);
            break;
        case kSearchMsiProductVersion:
            SearchMsiProduct(search.SearchString, &outcome);
            outcome.Found = FoundValuesAcceptable(outcome.FoundValues, range);
            break;
        case kSearchMsiUpgradeCodeVersions:
            SearchMsiUpgradeCode(search.SearchString, &outcome);
            outcome.Found = FoundValuesAcceptable(outcome.FoundValues, range);
            break;
        case kSearchProgramExitCode:
            outcome.Found = ProgramExitsWithZero(search);
            break;
        case kSearchMsiComponentInstalled:
            outcome.Found = MsiComponentInstalled(search.SearchString);
            break;
        default:
            // A type this chainer does not know looks nothing up and counts as found.
            outcome.Found = true;
            break;
    }
    return outcome;
}

bool EvaluateSearches(const Array<SearchEntry>& searches, int32_t op, bool use64BitView,
                      Array<SearchOutcome>* outcomes) {
    outcomes->Clear();
    SearchCombiner combiner(op);
    for (const SearchEntry& search : searches) {
        SearchOutcome outcome = RunSearch(search, use64BitView);
        bool goOn = combiner.Add(outcome.Found);
        outcomes->Add(outcome);
        if (!goOn) break;
    }
    return combiner.Answer();
}

// Small Win32 helpers shared by every subsystem: owning handles, the system
// message text of a code, registry values as text, module path, string
// resources and code-page conversion.
#pragma once

#include <windows.h>

#include "base/wstr.h"

template <typename Traits>
class UniqueHandleT {
public:
    typedef typename Traits::Type Type;
    UniqueHandleT() : h_(Traits::Invalid()) {}
    explicit UniqueHandleT(Type h) : h_(h) {}
    ~UniqueHandleT() { Reset(); }
    UniqueHandleT(const UniqueHandleT&) = delete;
    UniqueHandleT& operator=(const UniqueHandleT&) = delete;
    UniqueHandleT(UniqueHandleT&& o) noexcept : h_(o.Detach()) {}
    UniqueHandleT& operator=(UniqueHandleT&& o) noexcept {
        if (this != &o) Reset(o.Detach());
        return *this;
    }
    Type Get() const { return h_; }
    bool Valid() const { return h_ != Traits::Invalid(); }
    explicit operator bool() const { return Valid(); }
    void Reset(Type h = Traits::Invalid()) {
        if (Valid()) Traits::Close(h_);
        h_ = h;
    }
    Type Detach() {
        Type h = h_;
        h_ = Traits::Invalid();
        return h;
    }
    Type* Receive() {
        Reset();
        return &h_;
    }

private:
    Type h_;
};

struct KernelHandleTraits {  // null means none
    typedef HANDLE Type;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { CloseHandle(h); }
};
struct FileHandleTraits {  // INVALID_HANDLE_VALUE means none
    typedef HANDLE Type;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};
struct FindHandleTraits {
    typedef HANDLE Type;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { FindClose(h); }
};
struct RegKeyTraits {
    typedef HKEY Type;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { RegCloseKey(h); }
};
struct ModuleTraits {
    typedef HMODULE Type;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { FreeLibrary(h); }
};

typedef UniqueHandleT<KernelHandleTraits> UniqueHandle;
typedef UniqueHandleT<FileHandleTraits> UniqueFile;
typedef UniqueHandleT<FindHandleTraits> UniqueFind;
typedef UniqueHandleT<RegKeyTraits> UniqueRegKey;
typedef UniqueHandleT<ModuleTraits> UniqueModule;

// The system's message text for a code (usually ending with CR LF), or the
// code as a signed decimal number when the system has none.
WString SystemMessageText(uint32_t code);

// Registry root by name, compared without regard to case: HKLM /
// HKEY_LOCAL_MACHINE, HKCU / HKEY_CURRENT_USER, HKCR / HKEY_CLASSES_ROOT,
// HKCC / HKEY_CURRENT_CONFIG; any other text names HKEY_USERS.
HKEY RegistryRootFromName(const WString& name);

// Splits ROOT\key\...\ValueName into root, key path and value name. False
// when the path has no backslash.
bool SplitRegistryValuePath(const WString& path, HKEY* root, WString* keyPath, WString* valueName);
// Splits ROOT\key\... into root and key path. False without a backslash.
bool SplitRegistryKeyPath(const WString& path, HKEY* root, WString* keyPath);

// Reads a registry value as text: a 200-byte buffer grown to the reported
// size plus 2 bytes while the system answers ERROR_MORE_DATA; REG_SZ,
// REG_EXPAND_SZ and REG_MULTI_SZ without trailing NULs (not expanded),
// REG_DWORD in unsigned decimal. False for other types and errors.
bool QueryRegistryValueText(HKEY key, const WString& valueName, WString* text);

// Full path of a module (null: this process), read with a growing buffer.
WString ModuleFileName(HMODULE module = nullptr);

// A string of the executable's string table.
WString LoadResourceString(UINT id);

// Code-page conversions (CP_ACP unless told otherwise).
WString Widen(const char* text, int length = -1, UINT codePage = CP_ACP);
// Narrow text without terminating NUL in the result length.
struct NarrowText {
    char* data = nullptr;
    int length = 0;
    NarrowText() {}
    NarrowText(const NarrowText&) = delete;
    NarrowText& operator=(const NarrowText&) = delete;
    ~NarrowText();
    const char* c_str() const { return data ? data : ""; }
};
void Narrow(const WString& text, NarrowText* out, UINT codePage = CP_ACP);

// The one-time initialisation used for process-wide values: the first caller
// runs init, concurrent first callers wait for it.
class OnceFlag {
public:
    template <typename F>
    void Run(F init) {
        if (InterlockedCompareExchange(&state_, 0, 0) == 2) return;
        if (InterlockedCompareExchange(&state_, 1, 0) == 0) {
            init();
            InterlockedExchange(&state_, 2);
            return;
        }
        while (InterlockedCompareExchange(&state_, 2, 2) != 2) Sleep(0);
    }

private:
    volatile LONG state_ = 0;
};

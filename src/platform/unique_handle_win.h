// Owners of every kind of handle and allocation the program holds. Each kind
// names its empty value (what a fresh owner holds) and every value that means
// "no handle": a HANDLE is empty when it is null or INVALID_HANDLE_VALUE,
// whichever the API that produced it uses. Closing keeps the thread's last
// error, so that an owner going out of scope never hides the failure that made
// its function return.
#pragma once

#include <windows.h>
#include <unknwn.h>

template <typename Traits>
class UniqueHandleT {
public:
    typedef typename Traits::Type Type;
    UniqueHandleT() : h_(Traits::Empty()) {}
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
    bool Valid() const { return !Traits::IsNone(h_); }
    explicit operator bool() const { return Valid(); }
    void Reset(Type h = Traits::Empty()) {
        if (Valid() && h != h_) {
            DWORD error = GetLastError();
            Traits::Close(h_);
            SetLastError(error);
        }
        h_ = h;
    }
    Type Detach() {
        Type h = h_;
        h_ = Traits::Empty();
        return h;
    }
    Type* Receive() {
        Reset();
        return &h_;
    }

private:
    Type h_;
};

inline bool IsNoHandle(HANDLE h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }

struct KernelHandleTraits {  // a fresh owner holds null
    typedef HANDLE Type;
    static Type Empty() { return nullptr; }
    static bool IsNone(Type h) { return IsNoHandle(h); }
    static void Close(Type h) { CloseHandle(h); }
};
struct FileHandleTraits {  // a fresh owner holds INVALID_HANDLE_VALUE
    typedef HANDLE Type;
    static Type Empty() { return INVALID_HANDLE_VALUE; }
    static bool IsNone(Type h) { return IsNoHandle(h); }
    static void Close(Type h) { CloseHandle(h); }
};
struct FindHandleTraits {
    typedef HANDLE Type;
    static Type Empty() { return INVALID_HANDLE_VALUE; }
    static bool IsNone(Type h) { return IsNoHandle(h); }
    static void Close(Type h) { FindClose(h); }
};
struct RegKeyTraits {
    typedef HKEY Type;
    static Type Empty() { return nullptr; }
    static bool IsNone(Type h) { return h == nullptr; }
    static void Close(Type h) { RegCloseKey(h); }
};
struct ModuleTraits {
    typedef HMODULE Type;
    static Type Empty() { return nullptr; }
    static bool IsNone(Type h) { return h == nullptr; }
    static void Close(Type h) { FreeLibrary(h); }
};
template <typename T>
struct LocalMemoryTraits {  // LocalAlloc, FormatMessage and the security APIs
    typedef T Type;
    static Type Empty() { return nullptr; }
    static bool IsNone(Type h) { return h == nullptr; }
    static void Close(Type h) { LocalFree(reinterpret_cast<HLOCAL>(h)); }
};
template <typename T>
struct ComTraits {  // one reference of a COM interface
    typedef T* Type;
    static Type Empty() { return nullptr; }
    static bool IsNone(Type h) { return h == nullptr; }
    static void Close(Type h) { h->Release(); }
};

typedef UniqueHandleT<KernelHandleTraits> UniqueHandle;
typedef UniqueHandleT<FileHandleTraits> UniqueFile;
typedef UniqueHandleT<FindHandleTraits> UniqueFind;
typedef UniqueHandleT<RegKeyTraits> UniqueRegKey;
typedef UniqueHandleT<ModuleTraits> UniqueModule;
template <typename T>
using UniqueLocal = UniqueHandleT<LocalMemoryTraits<T>>;
template <typename T>
using UniqueCom = UniqueHandleT<ComTraits<T>>;

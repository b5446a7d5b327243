// Wide string of UTF-16 code units, shared by reference and copied when changed.
// Portable: no <windows.h>. On Windows, wchar_t is a UTF-16 code unit too, so
// the string converts to and from wchar_t pointers for API calls.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef char16_t wchar16;

class WString {
public:
    WString() : rep_(nullptr) {}
    WString(const char16_t* text);                 // NUL-terminated, may be null
    WString(const char16_t* text, int length);     // exactly length units
    WString(const WString& other);
    WString(WString&& other) noexcept : rep_(other.rep_) { other.rep_ = nullptr; }
    ~WString();
    WString& operator=(const WString& other);
    WString& operator=(WString&& other) noexcept;

    // ASCII text (code units below 0x80) widened unit by unit.
    static WString FromAscii(const char* text);

    int Length() const { return rep_ ? rep_->length : 0; }
    bool IsEmpty() const { return Length() == 0; }
    // Always NUL-terminated; never null.
    const char16_t* c_str() const;
    char16_t operator[](int index) const { return c_str()[index]; }
    char16_t Last() const { return IsEmpty() ? 0 : c_str()[Length() - 1]; }

    void Clear();
    WString& Append(const WString& text);
    WString& Append(const char16_t* text);          // NUL-terminated
    WString& Append(const char16_t* text, int length);
    WString& Append(char16_t unit);
    WString& AppendAscii(const char* text);
    WString& AppendDecimal(int64_t value);
    WString& AppendUnsigned(uint64_t value);
    WString& operator+=(const WString& text) { return Append(text); }
    WString& operator+=(const char16_t* text) { return Append(text); }
    WString& operator+=(char16_t unit) { return Append(unit); }

    // Positions are code-unit indexes; -1 means not found.
    int Find(const WString& needle, int from = 0) const;
    int Find(const char16_t* needle, int from = 0) const;
    int FindChar(char16_t unit, int from = 0) const;
    int FindLastChar(char16_t unit) const;
    int FindFirstOf(const char16_t* set, int from = 0) const;
    bool Contains(const char16_t* needle) const { return Find(needle) >= 0; }
    bool Contains(char16_t unit) const { return FindChar(unit) >= 0; }

    WString Substr(int position, int count = -1) const;
    WString Left(int count) const { return Substr(0, count); }
    WString Mid(int position) const { return Substr(position); }

    bool StartsWith(const WString& prefix) const;
    bool StartsWith(const char16_t* prefix) const;
    bool EndsWith(const char16_t* suffix) const;
    // Case-insensitive for ASCII letters only (A-Z = a-z).
    bool StartsWithNoCase(const char16_t* prefix) const;
    bool EqualsNoCase(const WString& other) const;
    bool EqualsNoCase(const char16_t* other) const;

    // Trims the platform's wide white-space class at both ends.
    WString Trimmed() const;

    bool operator==(const WString& other) const;
    bool operator==(const char16_t* other) const;
    bool operator!=(const WString& other) const { return !(*this == other); }
    bool operator!=(const char16_t* other) const { return !(*this == other); }

    // Writable buffer of at least capacity units (plus NUL); the string becomes
    // unshared. Call ReleaseBuffer with the real length, or -1 to measure up to
    // the first NUL.
    char16_t* GetBuffer(int capacity);
    void ReleaseBuffer(int length = -1);

#ifdef _WIN32
    WString(const wchar_t* text) : WString(reinterpret_cast<const char16_t*>(text)) {}
    WString(const wchar_t* text, int length) : WString(reinterpret_cast<const char16_t*>(text), length) {}
    const wchar_t* wc() const { return reinterpret_cast<const wchar_t*>(c_str()); }
    wchar_t* GetWBuffer(int capacity) { return reinterpret_cast<wchar_t*>(GetBuffer(capacity)); }
    bool operator==(const wchar_t* other) const { return *this == reinterpret_cast<const char16_t*>(other); }
    bool operator!=(const wchar_t* other) const { return !(*this == other); }
    WString& Append(const wchar_t* text) { return Append(reinterpret_cast<const char16_t*>(text)); }
    WString& operator+=(const wchar_t* text) { return Append(text); }
#endif

private:
    struct Rep {
        volatile long refs;
        int length;
        int capacity;
        char16_t data[1];
    };
    static Rep* Allocate(int capacity);
    static void Release(Rep* rep);
    void Reserve(int capacity);   // unshared, room for capacity units
    Rep* rep_;
};

WString operator+(const WString& a, const WString& b);
WString operator+(const WString& a, const char16_t* b);
WString operator+(const char16_t* a, const WString& b);

// Length of a NUL-terminated UTF-16 text.
int WLen(const char16_t* text);

// True for the wide white-space class: space, tab, CR, LF, VT, FF and the
// other Unicode spaces.
bool IsWideSpace(char16_t unit);
// The value of a hexadecimal digit (either case), or -1 for any other unit.
int HexDigitValue(char16_t unit);

// Argument of Format: a string or an integer.
struct FmtArg {
    enum Kind { kString, kSigned, kUnsigned };
    FmtArg(const WString& s) : kind(kString), str(&s), value(0) {}
    FmtArg(int v) : kind(kSigned), str(nullptr), value(static_cast<uint64_t>(static_cast<int64_t>(v))) {}
    FmtArg(long v) : kind(kSigned), str(nullptr), value(static_cast<uint64_t>(static_cast<int64_t>(v))) {}
    FmtArg(long long v) : kind(kSigned), str(nullptr), value(static_cast<uint64_t>(v)) {}
    FmtArg(unsigned v) : kind(kUnsigned), str(nullptr), value(v) {}
    FmtArg(unsigned long v) : kind(kUnsigned), str(nullptr), value(v) {}
    FmtArg(unsigned long long v) : kind(kUnsigned), str(nullptr), value(v) {}
    Kind kind;
    const WString* str;
    uint64_t value;
};

// printf-like formatting for the system's fixed formats: %s, %d, %u, %x with
// an optional zero-padded width (%04d, %02d, %04x) and %%. A %d argument is
// printed as a signed 32-bit value, %u as unsigned 32-bit. Missing arguments
// format as nothing.
WString Format(const char16_t* format, const FmtArg* args, int count);
inline WString Format(const char16_t* format) { return Format(format, nullptr, 0); }
template <typename... Args>
WString Format(const char16_t* format, const Args&... args) {
    const FmtArg list[] = {FmtArg(args)...};
    return Format(format, list, static_cast<int>(sizeof...(Args)));
}

// Lenient integer of the configuration: leading blanks, optional "-", then an
// optional "+", then digits up to the first other character; wraps in 32 bits.
int32_t ParseLenientInt(const WString& text);
// The same rule for a size in bytes, read exactly in 64 bits: digits beyond
// what 64 bits hold read as the largest value (a size no file has), never as
// a wrapped small one. A negative value reads as the 32-bit rule always read
// it (-7 as 4294967289) while it fits 32 bits, and as the largest value
// beyond that.
uint64_t ParseLenientSize(const WString& text);

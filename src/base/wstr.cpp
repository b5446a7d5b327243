#include "base/wstr.h"

#include <string.h>

#include "base/fatal.h"

static const char16_t kEmpty[1] = {0};

int WLen(const char16_t* text) {
    if (!text) return 0;
    int n = 0;
    while (text[n]) ++n;
    return n;
}

bool IsWideSpace(char16_t c) {
    if (c == 0x20 || (c >= 0x09 && c <= 0x0D)) return true;
    switch (c) {
        case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029:
        case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

WString::Rep* WString::Allocate(int capacity) {
    if (capacity < 0 || capacity > (0x7FFFFFFF - 64) / 2) RaiseFailure(kHrOutOfMemory);
    size_t bytes = sizeof(Rep) + static_cast<size_t>(capacity) * sizeof(char16_t);
    Rep* rep = static_cast<Rep*>(MemAlloc(bytes));
    if (!rep) RaiseFailure(kHrOutOfMemory);
    rep->refs = 1;
    rep->length = 0;
    rep->capacity = capacity;
    rep->data[0] = 0;
    return rep;
}

void WString::Release(Rep* rep) {
    if (rep && __atomic_sub_fetch(&rep->refs, 1, __ATOMIC_ACQ_REL) == 0) MemFree(rep);
}

WString::WString(const char16_t* text) : WString(text, WLen(text)) {}

WString::WString(const char16_t* text, int length) : rep_(nullptr) {
    if (length <= 0 || !text) return;
    rep_ = Allocate(length);
    memcpy(rep_->data, text, static_cast<size_t>(length) * sizeof(char16_t));
    rep_->data[length] = 0;
    rep_->length = length;
}

WString::WString(const WString& other) : rep_(other.rep_) {
    if (rep_) __atomic_add_fetch(&rep_->refs, 1, __ATOMIC_RELAXED);
}

WString::~WString() { Release(rep_); }

WString& WString::operator=(const WString& other) {
    if (other.rep_) __atomic_add_fetch(&other.rep_->refs, 1, __ATOMIC_RELAXED);
    Release(rep_);
    rep_ = other.rep_;
    return *this;
}

WString& WString::operator=(WString&& other) noexcept {
    if (this != &other) {
        Release(rep_);
        rep_ = other.rep_;
        other.rep_ = nullptr;
    }
    return *this;
}

WString WString::FromAscii(const char* text) {
    WString s;
    s.AppendAscii(text);
    return s;
}

const char16_t* WString::c_str() const { return rep_ ? rep_->data : kEmpty; }

void WString::Clear() {
    Release(rep_);
    rep_ = nullptr;
}

void WString::Reserve(int capacity) {
    if (rep_ && __atomic_load_n(&rep_->refs, __ATOMIC_ACQUIRE) == 1 && rep_->capacity >= capacity) return;
    int length = Length();
    int newCapacity = capacity;
    if (rep_ && newCapacity < rep_->capacity) newCapacity = rep_->capacity;
    if (newCapacity < 8) newCapacity = 8;
    if (rep_ && newCapacity > rep_->capacity && newCapacity < rep_->capacity * 2 &&
        rep_->capacity < 0x3FFFFFFF / 2)
        newCapacity = rep_->capacity * 2;
    Rep* fresh = Allocate(newCapacity);
    if (length) memcpy(fresh->data, rep_->data, static_cast<size_t>(length) * sizeof(char16_t));
    fresh->data[length] = 0;
    fresh->length = length;
    Release(rep_);
    rep_ = fresh;
}

WString& WString::Append(const char16_t* text, int length) {
    if (length <= 0 || !text) return *this;
    int old = Length();
    if (length > 0x3FFFFFFF - old) RaiseFailure(kHrOutOfMemory);
    // The source may live inside this string; copy it first when it does.
    if (rep_ && text >= rep_->data && text < rep_->data + rep_->capacity + 1) {
        WString copy(text, length);
        return Append(copy.c_str(), length);
    }
    Reserve(old + length);
    memcpy(rep_->data + old, text, static_cast<size_t>(length) * sizeof(char16_t));
    rep_->length = old + length;
    rep_->data[rep_->length] = 0;
    return *this;
}

WString& WString::Append(const WString& text) {
    if (IsEmpty()) return *this = text;
    if (text.IsEmpty()) return *this;
    WString keep(text);  // text may be *this
    return Append(keep.c_str(), keep.Length());
}

WString& WString::Append(const char16_t* text) { return Append(text, WLen(text)); }

WString& WString::Append(char16_t unit) { return Append(&unit, 1); }

WString& WString::AppendAscii(const char* text) {
    if (!text) return *this;
    int n = static_cast<int>(strlen(text));
    if (!n) return *this;
    int old = Length();
    Reserve(old + n);
    for (int i = 0; i < n; ++i) rep_->data[old + i] = static_cast<unsigned char>(text[i]);
    rep_->length = old + n;
    rep_->data[rep_->length] = 0;
    return *this;
}

WString& WString::AppendUnsigned(uint64_t value) {
    char16_t digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value);
    char16_t out[24];
    for (int i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
    return Append(out, n);
}

WString& WString::AppendDecimal(int64_t value) {
    if (value < 0) {
        Append(u'-');
        return AppendUnsigned(0 - static_cast<uint64_t>(value));
    }
    return AppendUnsigned(static_cast<uint64_t>(value));
}

int WString::Find(const char16_t* needle, int from) const {
    int n = WLen(needle);
    int len = Length();
    if (from < 0) from = 0;
    if (n == 0) return from <= len ? from : -1;
    const char16_t* s = c_str();
    for (int i = from; i + n <= len; ++i) {
        if (s[i] == needle[0] && memcmp(s + i, needle, static_cast<size_t>(n) * sizeof(char16_t)) == 0)
            return i;
    }
    return -1;
}

int WString::Find(const WString& needle, int from) const {
    WString keep(needle);
    return Find(keep.c_str(), from);
}

int WString::FindChar(char16_t unit, int from) const {
    const char16_t* s = c_str();
    for (int i = from < 0 ? 0 : from; i < Length(); ++i)
        if (s[i] == unit) return i;
    return -1;
}

int WString::FindLastChar(char16_t unit) const {
    const char16_t* s = c_str();
    for (int i = Length() - 1; i >= 0; --i)
        if (s[i] == unit) return i;
    return -1;
}

int WString::FindFirstOf(const char16_t* set, int from) const {
    const char16_t* s = c_str();
    for (int i = from < 0 ? 0 : from; i < Length(); ++i)
        for (const char16_t* p = set; *p; ++p)
            if (s[i] == *p) return i;
    return -1;
}

WString WString::Substr(int position, int count) const {
    int len = Length();
    if (position < 0) position = 0;
    if (position >= len) return WString();
    if (count < 0 || count > len - position) count = len - position;
    if (position == 0 && count == len) return *this;
    return WString(c_str() + position, count);
}

bool WString::StartsWith(const char16_t* prefix) const {
    int n = WLen(prefix);
    return n <= Length() && memcmp(c_str(), prefix, static_cast<size_t>(n) * sizeof(char16_t)) == 0;
}

bool WString::StartsWith(const WString& prefix) const {
    int n = prefix.Length();
    return n <= Length() && memcmp(c_str(), prefix.c_str(), static_cast<size_t>(n) * sizeof(char16_t)) == 0;
}

bool WString::EndsWith(const char16_t* suffix) const {
    int n = WLen(suffix);
    int len = Length();
    return n <= len && memcmp(c_str() + len - n, suffix, static_cast<size_t>(n) * sizeof(char16_t)) == 0;
}

static char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool WString::StartsWithNoCase(const char16_t* prefix) const {
    int n = WLen(prefix);
    if (n > Length()) return false;
    const char16_t* s = c_str();
    for (int i = 0; i < n; ++i)
        if (FoldAscii(s[i]) != FoldAscii(prefix[i])) return false;
    return true;
}

bool WString::EqualsNoCase(const char16_t* other) const {
    return WLen(other) == Length() && StartsWithNoCase(other);
}

bool WString::EqualsNoCase(const WString& other) const { return EqualsNoCase(other.c_str()); }

WString WString::Trimmed() const {
    const char16_t* s = c_str();
    int begin = 0, end = Length();
    while (begin < end && IsWideSpace(s[begin])) ++begin;
    while (end > begin && IsWideSpace(s[end - 1])) --end;
    return Substr(begin, end - begin);
}

bool WString::operator==(const WString& other) const {
    if (rep_ == other.rep_) return true;
    int n = Length();
    return n == other.Length() && memcmp(c_str(), other.c_str(), static_cast<size_t>(n) * sizeof(char16_t)) == 0;
}

bool WString::operator==(const char16_t* other) const {
    int n = WLen(other);
    return n == Length() && memcmp(c_str(), other, static_cast<size_t>(n) * sizeof(char16_t)) == 0;
}

char16_t* WString::GetBuffer(int capacity) {
    if (capacity < Length()) capacity = Length();
    Reserve(capacity);
    return rep_->data;
}

void WString::ReleaseBuffer(int length) {
    if (!rep_) return;
    if (length < 0) {
        length = 0;
        while (length < rep_->capacity && rep_->data[length]) ++length;
    }
    if (length > rep_->capacity) length = rep_->capacity;
    rep_->length = length;
    rep_->data[length] = 0;
    if (length == 0) Clear();
}

WString operator+(const WString& a, const WString& b) {
    WString r(a);
    r.Append(b);
    return r;
}

WString operator+(const WString& a, const char16_t* b) {
    WString r(a);
    r.Append(b);
    return r;
}

WString operator+(const char16_t* a, const WString& b) {
    WString r(a);
    r.Append(b);
    return r;
}

WString Format(const char16_t* format, const FmtArg* args, int count) {
    WString out;
    int next = 0;
    const char16_t* p = format;
    while (*p) {
        const char16_t* run = p;
        while (*p && *p != u'%') ++p;
        out.Append(run, static_cast<int>(p - run));
        if (!*p) break;
        ++p;  // past '%'
        if (*p == u'%') {
            out.Append(u'%');
            ++p;
            continue;
        }
        bool zero = false;
        int width = 0;
        if (*p == u'0') {
            zero = true;
            ++p;
        }
        while (*p >= u'0' && *p <= u'9') width = width * 10 + (*p++ - u'0');
        char16_t conv = *p;
        if (!conv) break;
        ++p;
        if (next >= count) continue;
        const FmtArg& a = args[next++];
        WString piece;
        if (conv == u's') {
            if (a.kind == FmtArg::kString) piece = *a.str;
        } else if (conv == u'd') {
            piece.AppendDecimal(static_cast<int32_t>(static_cast<uint32_t>(a.value)));
        } else if (conv == u'u') {
            piece.AppendUnsigned(static_cast<uint32_t>(a.value));
        } else if (conv == u'x' || conv == u'X') {
            uint32_t v = static_cast<uint32_t>(a.value);
            char16_t digits[8];
            int n = 0;
            const char* hex = conv == u'x' ? "0123456789abcdef" : "0123456789ABCDEF";
            do {
                digits[n++] = static_cast<char16_t>(hex[v & 15]);
                v >>= 4;
            } while (v);
            for (int i = n - 1; i >= 0; --i) piece.Append(digits[i]);
        }
        for (int pad = piece.Length(); pad < width; ++pad) out.Append(zero && conv != u's' ? u'0' : u' ');
        out.Append(piece);
    }
    return out;
}

namespace {

// Leading spaces, then "-" and "+" in that order, each optional: where the
// digits begin.
const char16_t* SkipSign(const char16_t* p, bool* negative) {
    while (*p == u' ') ++p;
    *negative = *p == u'-';
    if (*negative) ++p;
    if (*p == u'+') ++p;
    return p;
}

}  // namespace

int32_t ParseLenientInt(const WString& text) {
    bool negative = false;
    const char16_t* p = SkipSign(text.c_str(), &negative);
    uint32_t value = 0;
    while (*p >= u'0' && *p <= u'9') value = value * 10u + static_cast<uint32_t>(*p++ - u'0');
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
}

uint64_t ParseLenientSize(const WString& text) {
    constexpr uint64_t kLargest = ~0ull;
    bool negative = false;
    const char16_t* p = SkipSign(text.c_str(), &negative);
    uint64_t value = 0;
    bool beyond = false;
    for (; *p >= u'0' && *p <= u'9'; ++p) {
        const uint64_t digit = static_cast<uint64_t>(*p - u'0');
        if (value > (kLargest - digit) / 10) beyond = true;
        if (!beyond) value = value * 10 + digit;
    }
    if (beyond) return kLargest;
    if (!negative || value == 0) return value;
    if (value > 0x80000000ull) return kLargest;
    return 0x100000000ull - value;
}

int HexDigitValue(char16_t unit) {
    if (unit >= u'0' && unit <= u'9') return unit - u'0';
    if (unit >= u'a' && unit <= u'f') return unit - u'a' + 10;
    if (unit >= u'A' && unit <= u'F') return unit - u'A' + 10;
    return -1;
}

#include "config/interboot_store_win.h"

#include "base/fatal.h"
#include "platform/win_util.h"

namespace {

int TextLength(const char* text) {
    int length = 0;
    if (text)
        while (text[length]) ++length;
    return length;
}

char* CopyText(const char* text, int length) {
    char* copy = static_cast<char*>(MemAlloc(static_cast<size_t>(length) + 1));
    if (!copy) RaiseFailure(kHrOutOfMemory);
    for (int i = 0; i < length; ++i) copy[i] = text[i];
    copy[length] = 0;
    return copy;
}

// Registry data as text: the bytes up to the first NUL or the end of the data
// (the store writes its values without a terminating NUL).
NarrowString TextOfData(const BYTE* data, DWORD size) {
    DWORD length = 0;
    while (length < size && data[length] != 0) ++length;
    char* copy = CopyText(reinterpret_cast<const char*>(data), static_cast<int>(length));
    NarrowString text(copy);
    MemFree(copy);
    return text;
}

bool OpenStoreKey(const NarrowString& keyName, REGSAM access, UniqueRegKey* key) {
    return RegOpenKeyExA(HKEY_CURRENT_USER, keyName.c_str(), 0, access, key->Receive()) == ERROR_SUCCESS;
}

}  // namespace

// NarrowString -------------------------------------------------------------

NarrowString::NarrowString(const char* text) {
    length_ = TextLength(text);
    data_ = CopyText(text ? text : "", length_);
}

NarrowString::NarrowString(const NarrowString& other) : length_(other.length_) {
    data_ = other.data_ ? CopyText(other.data_, other.length_) : nullptr;
}

NarrowString& NarrowString::operator=(const NarrowString& other) {
    if (this != &other) {
        char* fresh = other.data_ ? CopyText(other.data_, other.length_) : nullptr;
        MemFree(data_);
        data_ = fresh;
        length_ = other.length_;
    }
    return *this;
}

NarrowString::~NarrowString() { MemFree(data_); }

bool NarrowString::operator==(const NarrowString& other) const {
    if (length_ != other.length_) return false;
    const char* a = c_str();
    const char* b = other.c_str();
    for (int i = 0; i < length_; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// Iterator -----------------------------------------------------------------

bool NameValueStore::Iterator::Read(NarrowString* name, NarrowString* data) const {
    UniqueRegKey key;
    if (!OpenStoreKey(keyName_, KEY_QUERY_VALUE, &key)) return false;
    DWORD maxName = 0;
    DWORD maxData = 0;
    if (RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName,
                         &maxData, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    // A value may grow between the query and the enumeration: retry with the
    // larger sizes a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD nameCapacity = maxName + 1;
        DWORD dataCapacity = maxData + 1;
        char* nameBuffer = static_cast<char*>(MemAlloc(nameCapacity));
        BYTE* dataBuffer = static_cast<BYTE*>(MemAlloc(dataCapacity));
        if (!nameBuffer || !dataBuffer) RaiseFailure(kHrOutOfMemory);
        DWORD nameLength = nameCapacity;
        DWORD dataSize = dataCapacity;
        LONG status = RegEnumValueA(key.Get(), index_, nameBuffer, &nameLength, nullptr, nullptr, dataBuffer, &dataSize);
        if (status == ERROR_SUCCESS) {
            nameBuffer[nameLength < nameCapacity ? nameLength : nameCapacity - 1] = 0;
            *name = NarrowString(nameBuffer);
            *data = TextOfData(dataBuffer, dataSize < dataCapacity ? dataSize : dataCapacity);
        }
        MemFree(nameBuffer);
        MemFree(dataBuffer);
        if (status == ERROR_SUCCESS) return true;
        if (status != ERROR_MORE_DATA) return false;
        maxName = maxName * 2 + 256;
        maxData = dataSize > maxData ? dataSize : maxData * 2 + 256;
    }
    return false;
}

// InterbootStore -----------------------------------------------------------

InterbootStore::InterbootStore(const char* keyName, bool deleteOnClose)
    : keyName_(keyName), deleteOnClose_(deleteOnClose) {}

InterbootStore::~InterbootStore() {
    if (deleteOnClose_) RegDeleteKeyA(HKEY_CURRENT_USER, keyName_.c_str());
}

int InterbootStore::SetInt(const char* name, int32_t value) {
    char text[16];
    char digits[12];
    int count = 0;
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    int length = 0;
    if (value < 0) text[length++] = '-';
    while (count > 0) text[length++] = digits[--count];
    text[length] = 0;
    return SetString(name, text);
}

int InterbootStore::SetString(const char* name, const char* text) {
    NarrowString existing;
    if (GetString(name, &existing) == 0) return 3;  // write-once: the first value stays
    UniqueRegKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, keyName_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Receive(),
                        nullptr) != ERROR_SUCCESS)
        return 1;
    const char* data = text ? text : "";
    if (RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                       static_cast<DWORD>(TextLength(data))) != ERROR_SUCCESS)
        return 1;
    return 0;
}

int InterbootStore::GetInt(const char* name, int32_t* value) {
    NarrowString text;
    if (GetString(name, &text) != 0) {
        *value = 0;
        return 0;
    }
    const char* p = text.c_str();
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    if (*p == 0) return 2;
    int64_t magnitude = 0;
    for (; *p; ++p) {
        if (*p < '0' || *p > '9') return 2;
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > 0x80000000LL) return 2;  // not a 32-bit number
    }
    if (!negative && magnitude > 0x7FFFFFFFLL) return 2;
    *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return 0;
}

int InterbootStore::GetString(const char* name, NarrowString* text) {
    UniqueRegKey key;
    if (!OpenStoreKey(keyName_, KEY_QUERY_VALUE, &key)) return 1;
    DWORD capacity = 260;
    for (int attempt = 0; attempt < 8; ++attempt) {
        BYTE* buffer = static_cast<BYTE*>(MemAlloc(static_cast<size_t>(capacity) + 1));
        if (!buffer) RaiseFailure(kHrOutOfMemory);
        DWORD size = capacity;
        DWORD type = 0;
        LONG status = RegQueryValueExA(key.Get(), name, nullptr, &type, buffer, &size);
        if (status == ERROR_SUCCESS) *text = TextOfData(buffer, size < capacity ? size : capacity);
        MemFree(buffer);
        if (status == ERROR_SUCCESS) return 0;
        if (status != ERROR_MORE_DATA) return 1;
        // The system reported the size it needs; the value may still grow.
        capacity = size > capacity ? size : capacity * 2;
    }
    return 1;
}

int InterbootStore::DeleteValue(const char* name) {
    UniqueRegKey key;
    if (!OpenStoreKey(keyName_, KEY_SET_VALUE, &key)) return 1;
    return RegDeleteValueA(key.Get(), name) == ERROR_SUCCESS ? 0 : 1;
}

NameValueStore::Iterator InterbootStore::Begin() { return Iterator(keyName_, 0); }

NameValueStore::Iterator InterbootStore::End() {
    UniqueRegKey key;
    DWORD count = 0;
    if (!OpenStoreKey(keyName_, KEY_QUERY_VALUE, &key) ||
        RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return Begin();
    return Iterator(keyName_, count);
}

#include "config/interboot_store_win.h"

#include "base/fatal.h"
#include "base/grow_retry.h"
#include "platform/registry_key_win.h"
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
    // larger sizes a few times. The helper's size is the data's; the name's
    // room grows with it.
    QueryBuffer nameBuffer;
    QueryBuffer dataBuffer;
    return GrowAndRetry(maxData + 1, 4, [&](uint32_t dataCapacity, uint32_t* needed) {
        DWORD nameCapacity = maxName + 1;
        char* nameText = reinterpret_cast<char*>(nameBuffer.Reserve(nameCapacity));
        DWORD nameLength = nameCapacity;
        DWORD dataSize = dataCapacity;
        LONG status = RegEnumValueA(key.Get(), index_, nameText, &nameLength, nullptr, nullptr,
                                    dataBuffer.Reserve(dataCapacity), &dataSize);
        if (status == ERROR_SUCCESS) {
            nameText[nameLength < nameCapacity ? nameLength : nameCapacity - 1] = 0;
            *name = NarrowString(nameText);
            *data = TextOfData(dataBuffer.Data(), dataSize < dataCapacity ? dataSize : dataCapacity);
        }
        maxName = maxName * 2 + 256;
        *needed = dataSize > dataCapacity ? dataSize + 1 : dataCapacity * 2 + 256;
        return RegistryQueryStep(status);
    });
}

// InterbootStore -----------------------------------------------------------

InterbootStore::InterbootStore(const char* keyName, bool deleteOnClose)
    : keyName_(keyName), deleteOnClose_(deleteOnClose) {}

InterbootStore::~InterbootStore() {
    if (deleteOnClose_) RegDeleteKeyA(HKEY_CURRENT_USER, keyName_.c_str());
}

StoreResult InterbootStore::SetInt(const char* name, int32_t value) {
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

StoreResult InterbootStore::SetString(const char* name, const char* text) {
    NarrowString existing;
    if (GetString(name, &existing) == kStoreOk) return kStoreAlreadySet;  // write-once: the first value stays
    UniqueRegKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, keyName_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Receive(),
                        nullptr) != ERROR_SUCCESS)
        return kStoreFailed;
    const char* data = text ? text : "";
    if (RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                       static_cast<DWORD>(TextLength(data))) != ERROR_SUCCESS)
        return kStoreFailed;
    return kStoreOk;
}

StoreResult InterbootStore::GetInt(const char* name, int32_t* value) {
    NarrowString text;
    if (GetString(name, &text) != kStoreOk) {
        *value = 0;
        return kStoreOk;
    }
    const char* p = text.c_str();
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    if (*p == 0) return kStoreNotANumber;
    int64_t magnitude = 0;
    for (; *p; ++p) {
        if (*p < '0' || *p > '9') return kStoreNotANumber;
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > 0x80000000LL) return kStoreNotANumber;  // not a 32-bit number
    }
    if (!negative && magnitude > 0x7FFFFFFFLL) return kStoreNotANumber;
    *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return kStoreOk;
}

StoreResult InterbootStore::GetString(const char* name, NarrowString* text) {
    UniqueRegKey key;
    if (!OpenStoreKey(keyName_, KEY_QUERY_VALUE, &key)) return kStoreFailed;
    // The system reports the size it needs; the value may still grow.
    QueryBuffer buffer;
    bool read = GrowAndRetry(260, 8, [&](uint32_t capacity, uint32_t* needed) {
        DWORD size = capacity;
        DWORD type = 0;
        LONG status = RegQueryValueExA(key.Get(), name, nullptr, &type, buffer.Reserve(size_t(capacity) + 1), &size);
        if (status == ERROR_SUCCESS) *text = TextOfData(buffer.Data(), size < capacity ? size : capacity);
        *needed = size;
        return RegistryQueryStep(status);
    });
    return read ? kStoreOk : kStoreFailed;
}

StoreResult InterbootStore::DeleteValue(const char* name) {
    UniqueRegKey key;
    if (!OpenStoreKey(keyName_, KEY_SET_VALUE, &key)) return kStoreFailed;
    return RegDeleteValueA(key.Get(), name) == ERROR_SUCCESS ? kStoreOk : kStoreFailed;
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

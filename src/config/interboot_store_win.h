// A name/value store in the registry under HKEY_CURRENT_USER that survives a
// reboot: the return codes of launched setups.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/wstr.h"

// Narrow (ANSI) text owned by value.
class NarrowString {
public:
    NarrowString() {}
    NarrowString(const char* text);
    NarrowString(const NarrowString& other);
    NarrowString& operator=(const NarrowString& other);
    ~NarrowString();
    const char* c_str() const { return data_ ? data_ : ""; }
    int Length() const { return length_; }
    bool operator==(const NarrowString& other) const;

private:
    char* data_ = nullptr;
    int length_ = 0;
};

// The answers of the store.
enum StoreResult : int {
    kStoreOk = 0,
    kStoreFailed = 1,       // the registry refused, or the value is absent (reads)
    kStoreNotANumber = 2,   // GetInt: the text is not a whole 32-bit decimal number
    kStoreAlreadySet = 3,   // Set*: write-once, the first value stays
};

class NameValueStore {
public:
    class Iterator {
    public:
        Iterator(const NarrowString& keyName, DWORD index) : keyName_(keyName), index_(index) {}
        bool operator==(const Iterator& other) const { return keyName_ == other.keyName_ && index_ == other.index_; }
        bool operator!=(const Iterator& other) const { return !(*this == other); }
        Iterator& operator++() {
            ++index_;
            return *this;
        }
        // The (name, data) pair at this index; false when it cannot be read.
        bool Read(NarrowString* name, NarrowString* data) const;
        DWORD Index() const { return index_; }

    private:
        NarrowString keyName_;
        DWORD index_;
    };

    virtual ~NameValueStore() {}
    [[nodiscard]] virtual StoreResult SetInt(const char* name, int32_t value) = 0;
    [[nodiscard]] virtual StoreResult SetString(const char* name, const char* text) = 0;
    [[nodiscard]] virtual StoreResult GetInt(const char* name, int32_t* value) = 0;
    [[nodiscard]] virtual StoreResult GetString(const char* name, NarrowString* text) = 0;
    [[nodiscard]] virtual StoreResult DeleteValue(const char* name) = 0;
    virtual Iterator Begin() = 0;
    virtual Iterator End() = 0;
};

class InterbootStore : public NameValueStore {
public:
    InterbootStore(const char* keyName, bool deleteOnClose);
    ~InterbootStore() override;  // closes: deletes the key when deleteOnClose
    void SetDeleteOnClose(bool value) { deleteOnClose_ = value; }
    bool DeleteOnClose() const { return deleteOnClose_; }

    [[nodiscard]] StoreResult SetInt(const char* name, int32_t value) override;
    [[nodiscard]] StoreResult SetString(const char* name, const char* text) override;
    [[nodiscard]] StoreResult GetInt(const char* name, int32_t* value) override;
    [[nodiscard]] StoreResult GetString(const char* name, NarrowString* text) override;
    [[nodiscard]] StoreResult DeleteValue(const char* name) override;
    Iterator Begin() override;
    Iterator End() override;

private:
    NarrowString keyName_;
    bool deleteOnClose_;
};

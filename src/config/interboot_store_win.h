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
    virtual int SetInt(const char* name, int32_t value) = 0;
    virtual int SetString(const char* name, const char* text) = 0;
    virtual int GetInt(const char* name, int32_t* value) = 0;
    virtual int GetString(const char* name, NarrowString* text) = 0;
    virtual int DeleteValue(const char* name) = 0;
    virtual Iterator Begin() = 0;
    virtual Iterator End() = 0;
};

class InterbootStore : public NameValueStore {
public:
    InterbootStore(const char* keyName, bool deleteOnClose);
    ~InterbootStore() override;  // closes: deletes the key when deleteOnClose
    void SetDeleteOnClose(bool value) { deleteOnClose_ = value; }
    bool DeleteOnClose() const { return deleteOnClose_; }

    int SetInt(const char* name, int32_t value) override;
    int SetString(const char* name, const char* text) override;
    int GetInt(const char* name, int32_t* value) override;
    int GetString(const char* name, NarrowString* text) override;
    int DeleteValue(const char* name) override;
    Iterator Begin() override;
    Iterator End() override;

private:
    NarrowString keyName_;
    bool deleteOnClose_;
};

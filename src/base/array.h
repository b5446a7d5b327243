// Growable array: capacity doubles starting at one element; an element that
// cannot be stored because memory ran out is silently dropped. An index
// outside the array is a programming error and raises the array-bounds code.
#pragma once

#include <new>
#include <stddef.h>

#include "base/fatal.h"

template <typename T>
class Array {
public:
    Array() : items_(nullptr), size_(0), capacity_(0) {}
    Array(const Array& other) : items_(nullptr), size_(0), capacity_(0) { CopyFrom(other); }
    Array(Array&& other) noexcept : items_(other.items_), size_(other.size_), capacity_(other.capacity_) {
        other.items_ = nullptr;
        other.size_ = other.capacity_ = 0;
    }
    ~Array() {
        Clear();
        MemFree(items_);
    }
    Array& operator=(const Array& other) {
        if (this != &other) {
            Clear();
            CopyFrom(other);
        }
        return *this;
    }
    Array& operator=(Array&& other) noexcept {
        if (this != &other) {
            Clear();
            MemFree(items_);
            items_ = other.items_;
            size_ = other.size_;
            capacity_ = other.capacity_;
            other.items_ = nullptr;
            other.size_ = other.capacity_ = 0;
        }
        return *this;
    }

    int Size() const { return size_; }
    bool IsEmpty() const { return size_ == 0; }

    T& operator[](int index) {
        if (index < 0 || index >= size_) RaiseFailure(kArrayBoundsExceeded);
        return items_[index];
    }
    const T& operator[](int index) const {
        if (index < 0 || index >= size_) RaiseFailure(kArrayBoundsExceeded);
        return items_[index];
    }

    // Appends a copy; answers false (and drops the element) when the array
    // cannot grow.
    bool Add(const T& item) {
        if (size_ == capacity_ && !Grow()) return false;
        new (&items_[size_]) T(item);
        ++size_;
        return true;
    }
    // Appends by moving; the item is left untouched when the array cannot grow.
    bool Add(T&& item) {
        if (size_ == capacity_ && !Grow()) return false;
        new (&items_[size_]) T(static_cast<T&&>(item));
        ++size_;
        return true;
    }

    void RemoveAt(int index) {
        if (index < 0 || index >= size_) RaiseFailure(kArrayBoundsExceeded);
        items_[index].~T();
        for (int i = index; i + 1 < size_; ++i) {
            new (&items_[i]) T(static_cast<T&&>(items_[i + 1]));
            items_[i + 1].~T();
        }
        --size_;
    }

    void Clear() {
        for (int i = 0; i < size_; ++i) items_[i].~T();
        size_ = 0;
    }

    T* begin() { return items_; }
    T* end() { return items_ + size_; }
    const T* begin() const { return items_; }
    const T* end() const { return items_ + size_; }

private:
    bool Grow() {
        int fresh = capacity_ ? capacity_ * 2 : 1;
        if (capacity_ > 0x3FFFFFFF / 2 || static_cast<size_t>(fresh) > static_cast<size_t>(-1) / 2 / sizeof(T))
            return false;
        T* block = static_cast<T*>(MemAlloc(static_cast<size_t>(fresh) * sizeof(T)));
        if (!block) return false;
        for (int i = 0; i < size_; ++i) {
            new (&block[i]) T(static_cast<T&&>(items_[i]));
            items_[i].~T();
        }
        MemFree(items_);
        items_ = block;
        capacity_ = fresh;
        return true;
    }
    void CopyFrom(const Array& other) {
        for (int i = 0; i < other.size_; ++i) Add(other.items_[i]);
    }

    T* items_;
    int size_;
    int capacity_;
};

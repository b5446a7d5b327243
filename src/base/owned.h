// Sole owners of heap memory, moved but never copied: Owned holds one object
// made with new, HeapBlock a block of MemAlloc.
#pragma once

#include <stddef.h>

#include "base/fatal.h"

template <typename T>
class Owned {
public:
    Owned() : p_(nullptr) {}
    explicit Owned(T* p) : p_(p) {}
    ~Owned() { delete p_; }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            delete p_;
            p_ = other.p_;
            other.p_ = nullptr;
        }
        return *this;
    }
    T* Get() const { return p_; }
    // Gives the object up without deleting it: for memory that must outlive
    // its owner (a system still writing into it).
    T* Release() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_;
};

class HeapBlock {
public:
    HeapBlock() : p_(nullptr) {}
    // A block of the given size; empty when the heap cannot give it.
    explicit HeapBlock(size_t bytes) : p_(MemAlloc(bytes)) {}
    ~HeapBlock() { MemFree(p_); }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;
    HeapBlock(HeapBlock&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    HeapBlock& operator=(HeapBlock&& other) noexcept {
        if (this != &other) {
            MemFree(p_);
            p_ = other.p_;
            other.p_ = nullptr;
        }
        return *this;
    }
    void* Get() const { return p_; }
    template <typename T>
    T* As() const { return static_cast<T*>(p_); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    void* p_;
};

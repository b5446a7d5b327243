// Sole owner of one object made with new: deleted with the owner, moved but
// never copied.
#pragma once

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
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_;
};

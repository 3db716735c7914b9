// An interface pointer that releases itself: one owned reference, moved, never copied.
#pragma once

#include <utility>

namespace qmx {

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(T* owned) : p_(owned) {} // takes over a reference already counted
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~ComPtr() { reset(); }

    void reset()
    {
        if (p_)
            std::exchange(p_, nullptr)->Release();
    }
    // For a call that hands out a new reference: the old one is released first.
    T** out()
    {
        reset();
        return &p_;
    }
    void** out_void() { return reinterpret_cast<void**>(out()); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Hands the reference to the caller.
    T* release() { return std::exchange(p_, nullptr); }

private:
    T* p_ = nullptr;
};

} // namespace qmx

// The one intrusive reference count of the program, and RefPtr<T>.
//
// An object starts with count 0 and belongs to nobody; the release that brings
// the count from 1 to 0 destroys it. Interfaces (abstract classes) derive
// virtually from RefCounted, so an object that implements several of them
// still has a single count. Objects are made with new and handed to a RefPtr
// (or counted explicitly); they are never deleted directly: the destructor is
// protected, and Free() refuses an object that is still referenced.
// A constructor must not hand `this` to a RefPtr: the count is still 0 there,
// so dropping that reference would destroy the half-built object.
#pragma once

#include <atomic>
#include <cstddef>
#include <type_traits>
#include <utility>

namespace rtl {

class RefCounted {
public:
    RefCounted() noexcept = default;
    RefCounted(const RefCounted&) noexcept {}
    RefCounted& operator=(const RefCounted&) noexcept { return *this; }

    int AddRef() const noexcept { return refCount_.fetch_add(1, std::memory_order_relaxed) + 1; }
    // Releases one reference; destroys the object when none is left.
    int Release() const noexcept
    {
        const int n = refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (n == 0) delete this;
        return n;
    }
    int RefCount() const noexcept { return refCount_.load(std::memory_order_relaxed); }

    // Destroys an object that nobody references; EInvalidPointer ("Invalid
    // pointer operation") when its count is not 0. nullptr is ignored.
    static void Free(const RefCounted* obj);

protected:
    virtual ~RefCounted() = default;

private:
    mutable std::atomic<int> refCount_{0};
};

// Holds one reference on a RefCounted object (or on nothing).
template <class T>
class RefPtr {
public:
    RefPtr() noexcept = default;
    RefPtr(std::nullptr_t) noexcept {}
    RefPtr(T* p) noexcept : p_(p) { if (p_) p_->AddRef(); }
    RefPtr(const RefPtr& other) noexcept : RefPtr(other.p_) {}
    RefPtr(RefPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    RefPtr(const RefPtr<U>& other) noexcept : RefPtr(other.get()) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    RefPtr(RefPtr<U>&& other) noexcept : p_(other.Detach()) {}
    ~RefPtr() { if (p_) p_->Release(); }

    RefPtr& operator=(const RefPtr& other) noexcept { reset(other.p_); return *this; }
    RefPtr& operator=(RefPtr&& other) noexcept
    {
        if (this != &other) {
            T* old = std::exchange(p_, std::exchange(other.p_, nullptr));
            if (old) old->Release();
        }
        return *this;
    }
    RefPtr& operator=(T* p) noexcept { reset(p); return *this; }
    RefPtr& operator=(std::nullptr_t) noexcept { reset(); return *this; }

    // Takes a reference on p first, then drops the old one (safe when p is
    // the object already held, or one that only the old object keeps alive).
    void reset(T* p = nullptr) noexcept
    {
        if (p) p->AddRef();
        T* old = std::exchange(p_, p);
        if (old) old->Release();
    }
    // Gives the reference to the caller without releasing it.
    [[nodiscard]] T* Detach() noexcept { return std::exchange(p_, nullptr); }
    // Takes over a reference the caller already holds.
    static RefPtr Adopt(T* p) noexcept { RefPtr r; r.p_ = p; return r; }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    template <class U>
    friend bool operator==(const RefPtr& a, const RefPtr<U>& b) noexcept { return a.get() == b.get(); }
    friend bool operator==(const RefPtr& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

private:
    T* p_ = nullptr;
};

template <class T, class... Args>
RefPtr<T> MakeRef(Args&&... args)
{
    return RefPtr<T>(new T(std::forward<Args>(args)...));
}

// dynamic_cast between reference-counted classes and interfaces.
template <class T, class U>
RefPtr<T> RefCast(const RefPtr<U>& p) noexcept
{
    return RefPtr<T>(dynamic_cast<T*>(p.get()));
}

} // namespace rtl

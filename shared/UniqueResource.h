// Move-only owner of one Windows resource (key, handle, item-ID list, ...).
// Each module supplies a Traits type whose close() calls through its own
// entry-point table, so tests that count closes see every release.
#pragma once

#include <utility>

template <class T, class Traits>
class UniqueResource {
public:
    UniqueResource() noexcept = default;
    explicit UniqueResource(T value) noexcept : value_(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }

    // For out-parameters of acquiring calls; releases what is held first.
    T* put() noexcept {
        reset();
        return &value_;
    }

    T release() noexcept { return std::exchange(value_, Traits::invalid()); }

    void reset(T value = Traits::invalid()) noexcept {
        T old = std::exchange(value_, value);
        if (old != Traits::invalid()) Traits::close(old);  // never throws
    }

private:
    T value_ = Traits::invalid();
};

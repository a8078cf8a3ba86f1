// Swaps one entry of a module's entry-point table for the life of a scope.
#pragma once

#include <utility>

template <class Fn>
class ApiOverride {
public:
    ApiOverride(Fn& slot, Fn replacement) : slot_(slot), saved_(std::exchange(slot, replacement)) {}
    ~ApiOverride() { slot_ = saved_; }
    ApiOverride(const ApiOverride&) = delete;
    ApiOverride& operator=(const ApiOverride&) = delete;

private:
    Fn& slot_;
    Fn saved_;
};

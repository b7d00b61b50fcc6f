#pragma once
// gui.bindable: values a widget shows that the application may bind.
//
// Threads: the stored value is guarded, so a worker may write while the loop
// reads; the getter and setter run on the caller's thread.
#include <concepts>
#include <functional>
#include <mutex>
#include <utility>

namespace gui {

// A value that may be bound to the application: reading calls the getter
// (when there is one) and stores its result; writing goes through the setter
// (when there is one), which returns what is stored. The stored value is
// guarded, so a worker may write while the loop reads.
template <class T>
class dgValue {
public:
    dgValue() = default;
    template <class U>
    requires std::constructible_from<T, U> dgValue(U&& v) : value_(std::forward<U>(v)) {}
    dgValue(const dgValue& other) : getter(other.getter), setter(other.setter) {
        std::lock_guard<std::mutex> hold(other.lock_);
        value_ = other.value_;
    }
    dgValue& operator=(const dgValue& other) {
        if (this == &other) return *this;
        T v = other.stored();
        getter = other.getter;
        setter = other.setter;
        std::lock_guard<std::mutex> hold(lock_);
        value_ = std::move(v);
        return *this;
    }
    static dgValue bound(std::function<T()> get, std::function<T(T)> set = {}) {
        dgValue v;
        v.getter = std::move(get);
        v.setter = std::move(set);
        return v;
    }

    T get() {
        if (getter) {
            T v = getter();
            std::lock_guard<std::mutex> hold(lock_);
            value_ = v;
            return v;
        }
        return stored();
    }
    void set(T v) {
        if (setter) v = setter(std::move(v));
        std::lock_guard<std::mutex> hold(lock_);
        value_ = std::move(v);
    }
    T stored() const {
        std::lock_guard<std::mutex> hold(lock_);
        return value_;
    }

    std::function<T()> getter;
    std::function<T(T)> setter;

private:
    mutable std::mutex lock_;
    T value_{};
};

}  // namespace gui

#pragma once
// One guard for every kind of Windows handle: pairs the value with its release function and
// releases it when the scope ends. Move-only.
#include <utility>

namespace tarvisko {

template <typename T>
class HandleGuard {
public:
    using Release = void (*)(T);

    HandleGuard() = default;
    HandleGuard(T value, Release release_function, T invalid = T{})
        : value_(value), invalid_(invalid), release_(release_function) {}
    HandleGuard(const HandleGuard&) = delete;
    HandleGuard& operator=(const HandleGuard&) = delete;
    HandleGuard(HandleGuard&& other) noexcept
        : value_(std::exchange(other.value_, other.invalid_)),
          invalid_(other.invalid_),
          release_(other.release_) {}
    HandleGuard& operator=(HandleGuard&& other) noexcept {
        if (this != &other) {
            reset();
            invalid_ = other.invalid_;
            release_ = other.release_;
            value_ = std::exchange(other.value_, other.invalid_);
        }
        return *this;
    }
    ~HandleGuard() { reset(); }

    T get() const { return value_; }
    bool valid() const { return value_ != invalid_; }
    explicit operator bool() const { return valid(); }
    // Gives up ownership without releasing.
    T release() { return std::exchange(value_, invalid_); }
    void reset() {
        if (value_ != invalid_ && release_ != nullptr) release_(value_);
        value_ = invalid_;
    }

private:
    T value_{};
    T invalid_{};
    Release release_ = nullptr;
};

}  // namespace tarvisko

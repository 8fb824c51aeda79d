// The library's error values. Library operations return a value or an
// error (Expected); nothing is thrown through the library's own layers
// except std::bad_alloc when memory runs out, which the Python boundary
// turns into MemoryError.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace vorn {

// The router's error type: a kind plus an owned message.
class VornError {
public:
    enum class Kind { AlgorithmError, PreprocessingError, RouterConfigError };

    VornError(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

    Kind kind() const noexcept { return kind_; }
    const std::string& message() const noexcept { return message_; }

    // Kind prefix immediately followed by the message, e.g. "Algorithm
    // error: ..." (the prefixes are part of the public contract).
    std::string display() const;

private:
    Kind kind_;
    std::string message_;
};

// A free function's rejection of an argument value that input can reach
// (for example a window size of 0). Raised as ValueError with exactly this
// text. Messages are static strings.
struct InvalidArgument {
    std::string_view message;
};

// The texts are fixed by the public contract: "window size" although the
// parameters are called n and shingle_size.
inline constexpr InvalidArgument kZeroWindow{"window size must be non-zero"};
// Hamming on texts of different character counts. The router reports the
// same condition in its own words (router/algorithm.cpp); both are fixed.
inline constexpr InvalidArgument kUnequalLength{"Strings must have equal length"};

// A value or an error; a minimal stand-in for C++23 std::expected.
template <class T, class E>
class Expected {
public:
    Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Expected(E error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool has_value() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const E& error() const& { return std::get<1>(state_); }
    E&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, E> state_;
};

}  // namespace vorn

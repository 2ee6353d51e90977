#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace velk {

/// The error side of a Result: one plain-English message.
struct Failure {
    std::string message;
};

/// Makes the error side of any Result.
inline Failure fail(std::string message) {
    return Failure{std::move(message)};
}

/// A value or one error message. Shaped like std::expected<T, std::string> so it
/// can be swapped for it later.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : data_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : data_(std::in_place_index<1>, std::move(failure.message)) {}

    bool ok() const noexcept { return data_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & {
        assert(ok());
        return std::get<0>(data_);
    }
    const T& value() const& {
        assert(ok());
        return std::get<0>(data_);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(data_));
    }
    const std::string& error() const {
        assert(!ok());
        return std::get<1>(data_);
    }

    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

private:
    std::variant<T, std::string> data_;
};

/// Result of an operation that has no value.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : error_(std::move(failure.message)), ok_(false) {}

    bool ok() const noexcept { return ok_; }
    explicit operator bool() const noexcept { return ok_; }
    const std::string& error() const {
        assert(!ok_);
        return error_;
    }

private:
    std::string error_;
    bool ok_ = true;
};

} // namespace velk

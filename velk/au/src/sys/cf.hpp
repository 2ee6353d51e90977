#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "sys/platform.hpp"

// CoreFoundation conversions for the properties. What `make_*` returns is a new object
// (+1) that the caller owns; objects the host passes in are only read, never retained or
// released. Main thread: may allocate.
namespace velk::au::sys {

/// Releases a CoreFoundation object when its owner goes.
struct Release {
    void operator()(CFTypeRef object) const noexcept {
        if (object != nullptr)
            CFRelease(object);
    }
};

/// The one reference to a CoreFoundation object that the adapter created.
template <class Ref>
using Owned = std::unique_ptr<std::remove_pointer_t<Ref>, Release>;

/// A new string of UTF-8 `text`, or null when it cannot be made.
Owned<CFStringRef> make_string(std::string_view text) noexcept;

/// A new signed 32-bit number.
Owned<CFNumberRef> make_number(std::int32_t value) noexcept;

/// A new data object holding a copy of `bytes`.
Owned<CFDataRef> make_data(std::span<const std::uint8_t> bytes) noexcept;

/// A new array of new strings, one per text, in order; null when any cannot be made.
Owned<CFArrayRef> make_string_array(std::span<const std::string_view> texts) noexcept;

/// Whether `object` is not null and has the type `type_id` names.
bool has_type(CFTypeRef object, CFTypeID type_id) noexcept;

/// The text of a string of at most 1023 UTF-8 bytes, ill-formed bytes replaced by
/// U+FFFD; nothing for null, an object of another type, or a longer string.
std::optional<std::string> string_from_cf(CFTypeRef object);

/// The value of a number that converts to a signed 32-bit integer without loss; nothing
/// for null, an object of another type or a value out of range or with a fraction.
std::optional<std::int32_t> int32_from_cf(CFTypeRef object) noexcept;

} // namespace velk::au::sys

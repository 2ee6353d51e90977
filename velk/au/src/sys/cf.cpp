#include "sys/cf.hpp"

#include <array>
#include <vector>

#include "text.hpp"

namespace velk::au::sys {
namespace {

/// CoreFoundation's longest text read back from a host: 1023 bytes and the zero.
constexpr CFIndex STRING_BUFFER_BYTES = 1024;

} // namespace

Owned<CFStringRef> make_string(std::string_view text) noexcept {
    return Owned<CFStringRef>(
        CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(text.data()),
                                static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, 0));
}

Owned<CFNumberRef> make_number(std::int32_t value) noexcept {
    return Owned<CFNumberRef>(CFNumberCreate(nullptr, kCFNumberSInt32Type, &value));
}

Owned<CFDataRef> make_data(std::span<const std::uint8_t> bytes) noexcept {
    return Owned<CFDataRef>(
        CFDataCreate(nullptr, bytes.data(), static_cast<CFIndex>(bytes.size())));
}

Owned<CFArrayRef> make_string_array(std::span<const std::string_view> texts) noexcept {
    try {
        std::vector<Owned<CFStringRef>> strings;
        std::vector<const void*> values;
        strings.reserve(texts.size());
        values.reserve(texts.size());
        for (const std::string_view text : texts) {
            strings.push_back(make_string(text));
            if (!strings.back())
                return nullptr;
            values.push_back(strings.back().get());
        }
        // The array retains its strings; ours are released when `strings` goes.
        return Owned<CFArrayRef>(CFArrayCreate(
            nullptr, values.data(), static_cast<CFIndex>(values.size()), &kCFTypeArrayCallBacks));
    } catch (...) {
        return nullptr;
    }
}

bool has_type(CFTypeRef object, CFTypeID type_id) noexcept {
    return object != nullptr && CFGetTypeID(object) == type_id;
}

std::optional<std::string> string_from_cf(CFTypeRef object) {
    if (!has_type(object, CFStringGetTypeID()))
        return std::nullopt;
    std::array<char, STRING_BUFFER_BYTES> buffer{};
    if (CFStringGetCString(static_cast<CFStringRef>(object), buffer.data(), STRING_BUFFER_BYTES,
                           kCFStringEncodingUTF8) == 0)
        return std::nullopt;
    return utf8_lossy(std::string_view(buffer.data()));
}

std::optional<std::int32_t> int32_from_cf(CFTypeRef object) noexcept {
    if (!has_type(object, CFNumberGetTypeID()))
        return std::nullopt;
    std::int32_t value = 0;
    if (CFNumberGetValue(static_cast<CFNumberRef>(object), kCFNumberSInt32Type, &value) == 0)
        return std::nullopt;
    return value;
}

} // namespace velk::au::sys

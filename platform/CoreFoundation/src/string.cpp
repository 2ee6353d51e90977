#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "object.hpp"

struct __CFString final : velk::cf::Object {
    static constexpr velk::cf::Type TYPE = velk::cf::Type::String;

    __CFString(std::string text, CFIndex units)
        : Object(velk::cf::CLASS<__CFString>), utf8(std::move(text)), utf16_length(units) {}

    bool equals(const __CFString& o) const noexcept { return utf8 == o.utf8; }
    CFHashCode hash() const noexcept {
        return velk::cf::hash_bytes(reinterpret_cast<const UInt8*>(utf8.data()), utf8.size());
    }

    const std::string utf8;
    const CFIndex utf16_length;
};

namespace {

using velk::cf::checked;

/// The UTF-16 length of well-formed UTF-8, or nothing for ill-formed bytes: truncated
/// or overlong sequences, surrogates and code points above U+10FFFF.
std::optional<CFIndex> utf16_length(std::string_view text) noexcept {
    CFIndex units = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<UInt8>(text[i]);
        // Continuation bytes after the lead, the lead's payload, and the smallest code
        // point that needs this many bytes (anything below is overlong).
        std::size_t extra = 0;
        UInt32 cp = lead;
        UInt32 min = 0;
        if (lead >= 0xF0 && lead < 0xF8) {
            extra = 3;
            cp = lead & 0x07u;
            min = 0x10000;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            extra = 2;
            cp = lead & 0x0Fu;
            min = 0x800;
        } else if (lead >= 0xC0 && lead < 0xE0) {
            extra = 1;
            cp = lead & 0x1Fu;
            min = 0x80;
        } else if (lead >= 0x80) {
            return std::nullopt;
        }
        if (text.size() - i <= extra) {
            return std::nullopt;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<UInt8>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return std::nullopt;
            }
            cp = (cp << 6) | (next & 0x3Fu);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return std::nullopt;
        }
        units += cp >= 0x10000 ? 2 : 1;
        i += extra + 1;
    }
    return units;
}

/// A new string (+1) of checked UTF-8, or null when memory runs out.
__CFString* make(std::string_view text, CFIndex units) noexcept {
    try {
        return new __CFString(std::string(text), units);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

/// A new string (+1), or null for ill-formed UTF-8 or when memory runs out.
CFStringRef create(std::string_view text) noexcept {
    const auto units = utf16_length(text);
    return units ? make(text, *units) : nullptr;
}

/// Constant strings by contents. Deliberately never destroyed, so constant strings
/// stay valid through static destruction, and reachable, so leak checkers accept them.
struct Constants {
    std::mutex mutex;
    std::unordered_map<std::string_view, const __CFString*> strings;
};

Constants& constants() {
    static auto* table = new Constants;
    return *table;
}

} // namespace

CFTypeID CFStringGetTypeID(void) noexcept {
    return static_cast<CFTypeID>(__CFString::TYPE);
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding,
                                    Boolean isExternalRepresentation) noexcept {
    if (encoding != kCFStringEncodingUTF8 || numBytes < 0 || (bytes == nullptr && numBytes > 0)) {
        return nullptr;
    }
    std::string_view text;
    if (numBytes > 0) {
        text = {reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(numBytes)};
    }
    if (isExternalRepresentation != 0 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    return create(text);
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr,
                                      CFStringEncoding encoding) noexcept {
    if (encoding != kCFStringEncodingUTF8 || cStr == nullptr) {
        return nullptr;
    }
    return create(cStr);
}

CFIndex CFStringGetLength(CFStringRef theString) noexcept {
    return checked<__CFString>(theString, "CFStringGetLength").utf16_length;
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) noexcept {
    const auto& s = checked<__CFString>(theString, "CFStringGetCString");
    if (buffer == nullptr || bufferSize <= 0) {
        return 0;
    }
    if (encoding != kCFStringEncodingUTF8 ||
        s.utf8.size() >= static_cast<std::size_t>(bufferSize)) {
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, s.utf8.data(), s.utf8.size());
    buffer[s.utf8.size()] = '\0';
    return 1;
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) noexcept {
    // Each UTF-16 unit takes at most 3 UTF-8 bytes; a surrogate pair takes 4 for 2 units.
    if (encoding != kCFStringEncodingUTF8 || length < 0 ||
        length > std::numeric_limits<CFIndex>::max() / 3) {
        return kCFNotFound;
    }
    return length * 3;
}

CFStringRef __CFStringMakeConstantString(const char* cStr) noexcept {
    if (cStr == nullptr) {
        velk::cf::fatal("__CFStringMakeConstantString", "null text");
    }
    Constants& table = constants();
    const std::string_view text(cStr);
    std::lock_guard lock(table.mutex);
    if (const auto found = table.strings.find(text); found != table.strings.end()) {
        return found->second;
    }
    const auto units = utf16_length(text);
    if (!units) {
        velk::cf::fatal("__CFStringMakeConstantString", "text is not valid UTF-8");
    }
    __CFString* s = make(text, *units);
    if (s == nullptr) {
        velk::cf::fatal("__CFStringMakeConstantString", "out of memory");
    }
    s->make_immortal();
    try {
        // Keyed by the string's own bytes, which live as long as the table.
        table.strings.emplace(std::string_view(s->utf8), s);
    } catch (const std::bad_alloc&) {
        velk::cf::fatal("__CFStringMakeConstantString", "out of memory");
    }
    return s;
}

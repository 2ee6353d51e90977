#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "object.hpp"

struct __CFData final : velk::cf::Object {
    static constexpr velk::cf::Type TYPE = velk::cf::Type::Data;

    // At least one byte is allocated, so the byte pointer is never null.
    __CFData(const UInt8* source, CFIndex size)
        : Object(velk::cf::CLASS<__CFData>),
          bytes(new UInt8[static_cast<std::size_t>(std::max<CFIndex>(size, 1))]),
          length(size) {
        if (size > 0) {
            std::memcpy(bytes.get(), source, static_cast<std::size_t>(size));
        }
    }

    bool equals(const __CFData& o) const noexcept {
        return length == o.length &&
               std::memcmp(bytes.get(), o.bytes.get(), static_cast<std::size_t>(length)) == 0;
    }
    CFHashCode hash() const noexcept {
        return velk::cf::hash_bytes(bytes.get(), static_cast<std::size_t>(length));
    }

    const std::unique_ptr<UInt8[]> bytes;
    const CFIndex length;
};

CFTypeID CFDataGetTypeID(void) noexcept {
    return static_cast<CFTypeID>(__CFData::TYPE);
}

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* bytes, CFIndex length) noexcept {
    if (length < 0 || (bytes == nullptr && length > 0)) {
        return nullptr;
    }
    try {
        return new __CFData(bytes, length);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

CFIndex CFDataGetLength(CFDataRef theData) noexcept {
    return velk::cf::checked<__CFData>(theData, "CFDataGetLength").length;
}

const UInt8* CFDataGetBytePtr(CFDataRef theData) noexcept {
    return velk::cf::checked<__CFData>(theData, "CFDataGetBytePtr").bytes.get();
}

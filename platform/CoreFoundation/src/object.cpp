#include "object.hpp"

#include <cstdio>
#include <cstdlib>
#include <limits>

namespace velk::cf {

void fatal(const char* function, const char* message) noexcept {
    std::fprintf(stderr, "CoreFoundation: %s: %s\n", function, message);
    std::abort();
}

const Object& object(CFTypeRef ref, const char* function) noexcept {
    if (ref == nullptr) {
        fatal(function, "null object");
    }
    const auto* o = static_cast<const Object*>(ref);
    if (!o->tagged()) {
        fatal(function, "not a CoreFoundation object");
    }
    return *o;
}

CFHashCode hash_bytes(const UInt8* bytes, std::size_t size) noexcept {
    CFHashCode h = 14695981039346656037ul;
    for (std::size_t i = 0; i < size; ++i) {
        h = (h ^ bytes[i]) * 1099511628211ul;
    }
    return h;
}

const void* retain_callback(CFAllocatorRef, const void* value) noexcept {
    return CFRetain(value);
}
void release_callback(CFAllocatorRef, const void* value) noexcept {
    CFRelease(value);
}
Boolean equal_callback(const void* a, const void* b) noexcept {
    return CFEqual(a, b);
}
CFHashCode hash_callback(const void* value) noexcept {
    return CFHash(value);
}

} // namespace velk::cf

using velk::cf::object;

const CFAllocatorRef kCFAllocatorDefault = nullptr;

CFTypeRef CFRetain(CFTypeRef cf) noexcept {
    const auto& o = object(cf, "CFRetain");
    if (!o.immortal()) {
        o.refs().fetch_add(1, std::memory_order_relaxed);
    }
    return cf;
}

void CFRelease(CFTypeRef cf) noexcept {
    const auto& o = object(cf, "CFRelease");
    if (o.immortal()) {
        return;
    }
    // Acquire-release, so that every use on other threads precedes the destruction.
    if (o.refs().fetch_sub(1, std::memory_order_acq_rel) == 1) {
        o.cls().destroy(o);
    }
}

CFIndex CFGetRetainCount(CFTypeRef cf) noexcept {
    const auto& o = object(cf, "CFGetRetainCount");
    if (o.immortal()) {
        return std::numeric_limits<CFIndex>::max();
    }
    return o.refs().load(std::memory_order_relaxed);
}

CFTypeID CFGetTypeID(CFTypeRef cf) noexcept {
    return static_cast<CFTypeID>(object(cf, "CFGetTypeID").type());
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) noexcept {
    const auto& a = object(cf1, "CFEqual");
    const auto& b = object(cf2, "CFEqual");
    if (&a == &b) {
        return 1;
    }
    return a.type() == b.type() && a.cls().equal(a, b) ? 1 : 0;
}

CFHashCode CFHash(CFTypeRef cf) noexcept {
    const auto& o = object(cf, "CFHash");
    return o.cls().hash(o);
}

#include <new>
#include <vector>

#include "object.hpp"

using velk::cf::checked;

const CFArrayCallBacks kCFTypeArrayCallBacks = {
    0, velk::cf::retain_callback, velk::cf::release_callback, nullptr, velk::cf::equal_callback,
};

struct __CFArray final : velk::cf::Object {
    static constexpr velk::cf::Type TYPE = velk::cf::Type::Array;

    __CFArray(const CFArrayCallBacks& c, const void** source, CFIndex count)
        : Object(velk::cf::CLASS<__CFArray>), callbacks(c), values(source, source + count) {
        if (callbacks.retain != nullptr) {
            for (const void*& v : values) {
                v = callbacks.retain(nullptr, v);
            }
        }
    }

    ~__CFArray() {
        if (callbacks.release != nullptr) {
            for (const void* v : values) {
                callbacks.release(nullptr, v);
            }
        }
    }

    bool equals(const __CFArray& o) const noexcept {
        if (values.size() != o.values.size()) {
            return false;
        }
        for (std::size_t i = 0; i < values.size(); ++i) {
            const void* a = values[i];
            const void* b = o.values[i];
            if (a != b && (callbacks.equal == nullptr || callbacks.equal(a, b) == 0)) {
                return false;
            }
        }
        return true;
    }
    CFHashCode hash() const noexcept { return values.size(); }

    const CFArrayCallBacks callbacks;
    std::vector<const void*> values;
};

CFTypeID CFArrayGetTypeID(void) noexcept {
    return static_cast<CFTypeID>(__CFArray::TYPE);
}

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex numValues,
                         const CFArrayCallBacks* callBacks) noexcept {
    if (numValues < 0 || (values == nullptr && numValues > 0)) {
        return nullptr;
    }
    try {
        return new __CFArray(callBacks != nullptr ? *callBacks : CFArrayCallBacks{}, values,
                             numValues);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

CFIndex CFArrayGetCount(CFArrayRef theArray) noexcept {
    return static_cast<CFIndex>(checked<__CFArray>(theArray, "CFArrayGetCount").values.size());
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) noexcept {
    const auto& a = checked<__CFArray>(theArray, "CFArrayGetValueAtIndex");
    if (idx < 0 || static_cast<std::size_t>(idx) >= a.values.size()) {
        velk::cf::fatal("CFArrayGetValueAtIndex", "index out of bounds");
    }
    return a.values[static_cast<std::size_t>(idx)];
}

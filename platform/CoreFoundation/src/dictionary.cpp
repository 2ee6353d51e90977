#include <new>
#include <vector>

#include "object.hpp"

using velk::cf::checked;

const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {
    0,       velk::cf::retain_callback, velk::cf::release_callback,
    nullptr, velk::cf::equal_callback,  velk::cf::hash_callback,
};

const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {
    0, velk::cf::retain_callback, velk::cf::release_callback, nullptr, velk::cf::equal_callback,
};

struct __CFDictionary final : velk::cf::Object {
    static constexpr velk::cf::Type TYPE = velk::cf::Type::Dictionary;

    struct Entry {
        const void* key;
        const void* value;
        CFHashCode hash;
    };

    __CFDictionary(const CFDictionaryKeyCallBacks& k, const CFDictionaryValueCallBacks& v) noexcept
        : Object(velk::cf::CLASS<__CFDictionary>), keys(k), values(v) {}

    ~__CFDictionary() {
        for (const Entry& e : entries) {
            release_key(e.key);
            release_value(e.value);
        }
    }

    CFHashCode hash_key(const void* key) const noexcept {
        return keys.hash != nullptr ? keys.hash(key) : reinterpret_cast<CFHashCode>(key);
    }
    bool equal_keys(const void* a, const void* b) const noexcept {
        return a == b || (keys.equal != nullptr && keys.equal(a, b) != 0);
    }
    bool equal_values(const void* a, const void* b) const noexcept {
        return a == b || (values.equal != nullptr && values.equal(a, b) != 0);
    }
    void release_key(const void* key) const noexcept {
        if (keys.release != nullptr) {
            keys.release(nullptr, key);
        }
    }
    void release_value(const void* value) const noexcept {
        if (values.release != nullptr) {
            values.release(nullptr, value);
        }
    }

    /// The position of the entry whose key equals `key`, or the entry count.
    std::size_t index_of(const void* key) const noexcept {
        const CFHashCode h = hash_key(key);
        std::size_t i = 0;
        while (i < entries.size() && !(entries[i].hash == h && equal_keys(entries[i].key, key))) {
            ++i;
        }
        return i;
    }

    bool equals(const __CFDictionary& o) const noexcept {
        if (entries.size() != o.entries.size()) {
            return false;
        }
        for (const Entry& e : entries) {
            const std::size_t i = o.index_of(e.key);
            if (i == o.entries.size() || !equal_values(e.value, o.entries[i].value)) {
                return false;
            }
        }
        return true;
    }
    CFHashCode hash() const noexcept { return entries.size(); }

    const CFDictionaryKeyCallBacks keys;
    const CFDictionaryValueCallBacks values;
    std::vector<Entry> entries;
};

CFTypeID CFDictionaryGetTypeID(void) noexcept {
    return static_cast<CFTypeID>(__CFDictionary::TYPE);
}

CFMutableDictionaryRef
CFDictionaryCreateMutable(CFAllocatorRef, CFIndex capacity,
                          const CFDictionaryKeyCallBacks* keyCallBacks,
                          const CFDictionaryValueCallBacks* valueCallBacks) noexcept {
    if (capacity < 0) {
        return nullptr;
    }
    return new (std::nothrow)
        __CFDictionary(keyCallBacks != nullptr ? *keyCallBacks : CFDictionaryKeyCallBacks{},
                       valueCallBacks != nullptr ? *valueCallBacks : CFDictionaryValueCallBacks{});
}

void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void* key,
                          const void* value) noexcept {
    checked<__CFDictionary>(theDict, "CFDictionarySetValue");
    __CFDictionary& d = *theDict;
    if (d.values.retain != nullptr) {
        value = d.values.retain(nullptr, value);
    }
    if (const std::size_t i = d.index_of(key); i < d.entries.size()) {
        const void* old = d.entries[i].value;
        d.entries[i].value = value;
        d.release_value(old);
        return;
    }
    const CFHashCode h = d.hash_key(key);
    if (d.keys.retain != nullptr) {
        key = d.keys.retain(nullptr, key);
    }
    try {
        d.entries.push_back({key, value, h});
    } catch (const std::bad_alloc&) {
        velk::cf::fatal("CFDictionarySetValue", "out of memory");
    }
}

const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key) noexcept {
    const auto& d = checked<__CFDictionary>(theDict, "CFDictionaryGetValue");
    const std::size_t i = d.index_of(key);
    return i < d.entries.size() ? d.entries[i].value : nullptr;
}

CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) noexcept {
    return static_cast<CFIndex>(
        checked<__CFDictionary>(theDict, "CFDictionaryGetCount").entries.size());
}

#pragma once

// Key-value dictionaries. The callback tables decide how keys and values are kept:
// `kCFTypeDictionaryKeyCallBacks` and `kCFTypeDictionaryValueCallBacks` retain what is
// stored, release it when it is replaced or the dictionary dies, and compare keys with
// `CFEqual`/`CFHash`. A null table, or a null function in one, means no retain or
// release and comparison by pointer. Not safe for a write concurrent with any other use.

#include <CoreFoundation/CFBase.h>
#include <CoreFoundation/CFString.h>

// NOLINTBEGIN(readability-identifier-naming)
extern "C" {

typedef const void* (*CFDictionaryRetainCallBack)(CFAllocatorRef allocator, const void* value);
typedef void (*CFDictionaryReleaseCallBack)(CFAllocatorRef allocator, const void* value);
typedef CFStringRef (*CFDictionaryCopyDescriptionCallBack)(const void* value);
typedef Boolean (*CFDictionaryEqualCallBack)(const void* value1, const void* value2);
typedef CFHashCode (*CFDictionaryHashCallBack)(const void* value);

typedef struct {
    CFIndex version;
    CFDictionaryRetainCallBack retain;
    CFDictionaryReleaseCallBack release;
    CFDictionaryCopyDescriptionCallBack copyDescription;
    CFDictionaryEqualCallBack equal;
    CFDictionaryHashCallBack hash;
} CFDictionaryKeyCallBacks;

typedef struct {
    CFIndex version;
    CFDictionaryRetainCallBack retain;
    CFDictionaryReleaseCallBack release;
    CFDictionaryCopyDescriptionCallBack copyDescription;
    CFDictionaryEqualCallBack equal;
} CFDictionaryValueCallBacks;

CF_EXPORT const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
CF_EXPORT const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;

typedef const struct __CFDictionary* CFDictionaryRef;
typedef struct __CFDictionary* CFMutableDictionaryRef;

CF_EXPORT CFTypeID CFDictionaryGetTypeID(void) noexcept;

/// A new empty dictionary (+1). `capacity` is only a hint (0: no limit); null when it is
/// negative. The callback tables are copied.
CF_EXPORT CFMutableDictionaryRef CFDictionaryCreateMutable(
    CFAllocatorRef allocator, CFIndex capacity, const CFDictionaryKeyCallBacks* keyCallBacks,
    const CFDictionaryValueCallBacks* valueCallBacks) noexcept;

/// Adds the pair, or replaces the value of an equal key (the first key is kept). The new
/// value is retained before the old one is released.
CF_EXPORT void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void* key,
                                    const void* value) noexcept;

/// The value of a key equal to `key` (borrowed), or null when there is none.
CF_EXPORT const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key) noexcept;

CF_EXPORT CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) noexcept;

} // extern "C"
// NOLINTEND(readability-identifier-naming)

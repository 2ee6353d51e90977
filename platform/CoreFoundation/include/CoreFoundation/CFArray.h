#pragma once

// Immutable ordered arrays. With `kCFTypeArrayCallBacks` the array retains its values
// and releases them when it dies; a null table, or a null function in one, keeps them
// unretained and compares them by pointer.

#include <CoreFoundation/CFBase.h>
#include <CoreFoundation/CFString.h>

// NOLINTBEGIN(readability-identifier-naming)
extern "C" {

typedef const void* (*CFArrayRetainCallBack)(CFAllocatorRef allocator, const void* value);
typedef void (*CFArrayReleaseCallBack)(CFAllocatorRef allocator, const void* value);
typedef CFStringRef (*CFArrayCopyDescriptionCallBack)(const void* value);
typedef Boolean (*CFArrayEqualCallBack)(const void* value1, const void* value2);

typedef struct {
    CFIndex version;
    CFArrayRetainCallBack retain;
    CFArrayReleaseCallBack release;
    CFArrayCopyDescriptionCallBack copyDescription;
    CFArrayEqualCallBack equal;
} CFArrayCallBacks;

CF_EXPORT const CFArrayCallBacks kCFTypeArrayCallBacks;

typedef const struct __CFArray* CFArrayRef;

CF_EXPORT CFTypeID CFArrayGetTypeID(void) noexcept;

/// A new array (+1) of the `numValues` values at `values`; null when `numValues` is
/// negative or `values` is null with `numValues` > 0.
CF_EXPORT CFArrayRef CFArrayCreate(CFAllocatorRef allocator, const void** values, CFIndex numValues,
                                   const CFArrayCallBacks* callBacks) noexcept;

CF_EXPORT CFIndex CFArrayGetCount(CFArrayRef theArray) noexcept;

/// The value at `idx` (borrowed). An index outside [0, count) stops the process.
CF_EXPORT const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) noexcept;

} // extern "C"
// NOLINTEND(readability-identifier-naming)

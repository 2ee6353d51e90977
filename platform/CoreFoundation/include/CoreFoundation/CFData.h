#pragma once

// Immutable byte buffers.

#include <CoreFoundation/CFBase.h>

// NOLINTBEGIN(readability-identifier-naming)
extern "C" {

typedef const struct __CFData* CFDataRef;

CF_EXPORT CFTypeID CFDataGetTypeID(void) noexcept;

/// A new data object (+1) holding a copy of `length` bytes; null when `length` is
/// negative or `bytes` is null with `length` > 0.
CF_EXPORT CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8* bytes,
                                 CFIndex length) noexcept;

CF_EXPORT CFIndex CFDataGetLength(CFDataRef theData) noexcept;

/// The bytes, valid while the object lives; never null, even when empty.
CF_EXPORT const UInt8* CFDataGetBytePtr(CFDataRef theData) noexcept;

} // extern "C"
// NOLINTEND(readability-identifier-naming)

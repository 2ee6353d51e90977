#pragma once

// Stand-in for the platform's CoreFoundation base: reference-counted objects shared by
// everything in the process through one shared library. Declared by hand with the
// platform's names, types and values, for C++ only.
//
// Ownership follows the platform: functions named Create or Copy return an object the
// caller releases; functions named Get return a borrowed one. Passing a null or foreign
// pointer where an object is required, or an object of the wrong type, stops the process
// with a message on stderr (the platform crashes there too).

#include <MacTypes.h>

#if !defined(__cplusplus)
#error "the CoreFoundation stand-in is declared for C++ only"
#endif

/// Marks the stand-in's C API, which keeps default visibility in a hidden-by-default build.
#define CF_EXPORT extern __attribute__((visibility("default")))

// NOLINTBEGIN(readability-identifier-naming)
extern "C" {

typedef long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFHashCode;

typedef const void* CFTypeRef;
typedef CFTypeRef CFPropertyListRef;
typedef const struct __CFAllocator* CFAllocatorRef;

static const CFIndex kCFNotFound = -1;

/// The default allocator, which is null; every allocator argument may be null.
/// The stand-in has only the default allocator and ignores any other.
CF_EXPORT const CFAllocatorRef kCFAllocatorDefault;

/// Adds a reference and returns `cf`. Thread-safe.
CF_EXPORT CFTypeRef CFRetain(CFTypeRef cf) noexcept;

/// Drops a reference; the last one destroys the object. Thread-safe.
CF_EXPORT void CFRelease(CFTypeRef cf) noexcept;

/// The current reference count; very large for constant strings, which are never freed.
CF_EXPORT CFIndex CFGetRetainCount(CFTypeRef cf) noexcept;

/// The type of an object, to compare with the `...GetTypeID` functions.
CF_EXPORT CFTypeID CFGetTypeID(CFTypeRef cf) noexcept;

/// Whether two objects have equal contents: strings by their characters, numbers by
/// their values (3 equals 3.0), data by their bytes, collections element by element.
/// Objects of different types are never equal.
CF_EXPORT Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) noexcept;

/// A hash consistent with `CFEqual`.
CF_EXPORT CFHashCode CFHash(CFTypeRef cf) noexcept;

} // extern "C"
// NOLINTEND(readability-identifier-naming)

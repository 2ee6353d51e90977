#pragma once

// Immutable numbers. A number keeps a 64-bit integer when created from an integer type
// and a 64-bit float when created from a floating-point type.

#include <CoreFoundation/CFBase.h>

// NOLINTBEGIN(readability-identifier-naming)
extern "C" {

typedef const struct __CFNumber* CFNumberRef;

/// Passed as a full `CFIndex`, never as `int`.
enum CFNumberType : CFIndex {
    kCFNumberSInt8Type = 1,
    kCFNumberSInt16Type = 2,
    kCFNumberSInt32Type = 3,
    kCFNumberSInt64Type = 4,
    kCFNumberFloat32Type = 5,
    kCFNumberFloat64Type = 6,
    kCFNumberCharType = 7,
    kCFNumberShortType = 8,
    kCFNumberIntType = 9,
    kCFNumberLongType = 10,
    kCFNumberLongLongType = 11,
    kCFNumberFloatType = 12,
    kCFNumberDoubleType = 13,
    kCFNumberCFIndexType = 14,
    kCFNumberNSIntegerType = 15,
    kCFNumberCGFloatType = 16,
    kCFNumberMaxType = 16,
};

CF_EXPORT CFTypeID CFNumberGetTypeID(void) noexcept;

/// A new number (+1) from the value of type `theType` at `valuePtr`; null for an
/// unknown type or a null `valuePtr`.
CF_EXPORT CFNumberRef CFNumberCreate(CFAllocatorRef allocator, CFNumberType theType,
                                     const void* valuePtr) noexcept;

/// Stores the number as `theType` at `valuePtr`. Returns false when the conversion is
/// lossy, having still stored the nearest value: fractions are cut toward zero, values
/// out of an integer type's range are clamped to it, NaN becomes 0, a float keeps the
/// nearest value. False, storing nothing, for an unknown type or a null `valuePtr`.
CF_EXPORT Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType,
                                   void* valuePtr) noexcept;

} // extern "C"
// NOLINTEND(readability-identifier-naming)

#pragma once

// Immutable Unicode strings, stored as UTF-8. Only the UTF-8 encoding is supported:
// any other encoding makes creation return null and conversion return false.

#include <CoreFoundation/CFBase.h>

// NOLINTBEGIN(readability-identifier-naming)
extern "C" {

typedef const struct __CFString* CFStringRef;
typedef UInt32 CFStringEncoding;

enum CFStringBuiltInEncodings : CFStringEncoding {
    kCFStringEncodingUTF8 = 0x08000100,
};

CF_EXPORT CFTypeID CFStringGetTypeID(void) noexcept;

/// A new string from `numBytes` bytes (+1). Null when the bytes are not valid UTF-8
/// (overlong forms, surrogates and code points above U+10FFFF included), when
/// `numBytes` is negative or `bytes` is null with `numBytes` > 0, or when the encoding
/// is not UTF-8. With `isExternalRepresentation` set, a leading byte-order mark is dropped.
CF_EXPORT CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes,
                                              CFIndex numBytes, CFStringEncoding encoding,
                                              Boolean isExternalRepresentation) noexcept;

/// A new string from a zero-terminated text (+1); null as for `CFStringCreateWithBytes`
/// and for a null `cStr`.
CF_EXPORT CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr,
                                                CFStringEncoding encoding) noexcept;

/// The length in UTF-16 code units: a character beyond U+FFFF counts 2.
CF_EXPORT CFIndex CFStringGetLength(CFStringRef theString) noexcept;

/// Copies the string and a terminating zero into `buffer`. False, with `buffer` left
/// holding an empty text (when `bufferSize` > 0), when the bytes and the zero do not fit
/// in `bufferSize` bytes or the encoding is not UTF-8; nothing is cut short.
CF_EXPORT Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                                     CFStringEncoding encoding) noexcept;

/// The most bytes `length` UTF-16 units can take in `encoding`, without the terminating
/// zero: 3 per unit for UTF-8. `kCFNotFound` on overflow or for another encoding.
CF_EXPORT CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length,
                                                    CFStringEncoding encoding) noexcept;

/// The process-wide constant string with these UTF-8 contents: made once, shared by
/// every caller with equal text, never freed (retain and release do nothing). Stops the
/// process for a null or invalid text. Thread-safe; behind `CFSTR`.
CF_EXPORT CFStringRef __CFStringMakeConstantString(const char* cStr) noexcept;

} // extern "C"
// NOLINTEND(readability-identifier-naming)

/// A constant string from a string literal, as on the platform. Each use site looks its
/// string up once and keeps it, so later evaluations take no lock.
#define CFSTR(cStr)                                                                                \
    ([]() noexcept -> CFStringRef {                                                                \
        static const CFStringRef velk_cfstr = __CFStringMakeConstantString("" cStr "");            \
        return velk_cfstr;                                                                         \
    }())

#pragma once

// The platform's basic scalar types (LP64), for builds off Apple. Declared for C++ only.

// NOLINTBEGIN(readability-identifier-naming)

typedef unsigned char UInt8;
typedef signed char SInt8;
typedef unsigned short UInt16;
typedef signed short SInt16;
typedef unsigned int UInt32;
typedef signed int SInt32;
typedef unsigned long long UInt64;
typedef signed long long SInt64;
typedef float Float32;
typedef double Float64;

/// One byte, not `bool`: store only 0 or 1 through a `Boolean*`.
typedef unsigned char Boolean;

/// Signed 32-bit status; 0 is success.
typedef SInt32 OSStatus;

/// A four-character code: its four ASCII bytes read as a big-endian number, stored natively.
typedef UInt32 FourCharCode;
typedef FourCharCode OSType;

enum { noErr = 0 };

// NOLINTEND(readability-identifier-naming)

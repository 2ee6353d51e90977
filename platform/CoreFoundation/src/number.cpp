#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "object.hpp"

namespace {

/// The value of a number: integers exactly, floating-point values as doubles.
struct Value {
    bool is_float = false;
    std::int64_t i = 0;
    double d = 0.0;
};

/// The value as a 64-bit integer when it is one exactly (3.0 is, 3.5 and 2^63 are not).
std::optional<std::int64_t> exact_integer(const Value& v) noexcept {
    if (!v.is_float) {
        return v.i;
    }
    constexpr double two_63 = 9223372036854775808.0;
    if (!(v.d >= -two_63 && v.d < two_63) || std::trunc(v.d) != v.d) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(v.d);
}

} // namespace

struct __CFNumber final : velk::cf::Object {
    static constexpr velk::cf::Type TYPE = velk::cf::Type::Number;

    explicit __CFNumber(Value v) noexcept : Object(velk::cf::CLASS<__CFNumber>), value(v) {}

    bool equals(const __CFNumber& o) const noexcept {
        const Value& a = value;
        const Value& b = o.value;
        if (a.is_float && b.is_float) {
            return a.d == b.d || (std::isnan(a.d) && std::isnan(b.d));
        }
        const auto ia = exact_integer(a);
        const auto ib = exact_integer(b);
        return ia && ib && *ia == *ib;
    }

    CFHashCode hash() const noexcept {
        // Equal values hash alike whatever their type: whole numbers hash as integers.
        if (const auto i = exact_integer(value)) {
            return static_cast<CFHashCode>(*i);
        }
        const double d = std::isnan(value.d) ? std::numeric_limits<double>::quiet_NaN() : value.d;
        std::uint64_t bits = 0;
        std::memcpy(&bits, &d, sizeof bits);
        return static_cast<CFHashCode>(bits);
    }

    const Value value;
};

namespace {

template <class T>
T load(const void* p) noexcept {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
void store(void* p, T v) noexcept {
    std::memcpy(p, &v, sizeof v);
}

/// Reads a value of `type` at `p`; false for an unknown type.
bool read(CFNumberType type, const void* p, Value& out) noexcept {
    switch (type) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType:
        out.i = load<SInt8>(p);
        return true;
    case kCFNumberSInt16Type:
    case kCFNumberShortType:
        out.i = load<SInt16>(p);
        return true;
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
        out.i = load<SInt32>(p);
        return true;
    case kCFNumberSInt64Type:
    case kCFNumberLongLongType:
        out.i = load<SInt64>(p);
        return true;
    case kCFNumberLongType:
    case kCFNumberCFIndexType:
    case kCFNumberNSIntegerType:
        out.i = load<long>(p);
        return true;
    case kCFNumberFloat32Type:
    case kCFNumberFloatType:
        out.is_float = true;
        out.d = static_cast<double>(load<Float32>(p));
        return true;
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
    case kCFNumberCGFloatType:
        out.is_float = true;
        out.d = load<Float64>(p);
        return true;
    }
    return false;
}

/// Converts to the integer type `T`, clamping to its range and cutting fractions toward
/// zero; NaN gives 0. Returns whether the result equals the value.
template <class T>
bool write_integer(const Value& v, void* p) noexcept {
    using limits = std::numeric_limits<T>;
    if (!v.is_float) {
        const T r = v.i < limits::min()   ? limits::min()
                    : v.i > limits::max() ? limits::max()
                                          : static_cast<T>(v.i);
        store(p, r);
        return r == v.i;
    }
    // -min is a power of two, so both bounds are exact doubles.
    const double lo = static_cast<double>(limits::min());
    const double hi = -lo;
    if (std::isnan(v.d) || v.d < lo || v.d >= hi) {
        store(p, std::isnan(v.d) ? T{0} : v.d < lo ? limits::min() : limits::max());
        return false;
    }
    const T r = static_cast<T>(v.d);
    store(p, r);
    return static_cast<double>(r) == v.d;
}

/// Converts to the floating-point type `T`, rounding to nearest; out-of-range doubles
/// become infinities. Returns whether the result equals the value (NaN stays NaN exactly).
template <class T>
bool write_float(const Value& v, void* p) noexcept {
    if (!v.is_float) {
        const T r = static_cast<T>(v.i);
        store(p, r);
        constexpr T two_63 = static_cast<T>(9223372036854775808.0);
        return r < two_63 && static_cast<std::int64_t>(r) == v.i;
    }
    if (std::isnan(v.d)) {
        store(p, std::numeric_limits<T>::quiet_NaN());
        return true;
    }
    constexpr T inf = std::numeric_limits<T>::infinity();
    const T r = std::fabs(v.d) <= static_cast<double>(std::numeric_limits<T>::max())
                    ? static_cast<T>(v.d)
                    : (v.d > 0 ? inf : -inf);
    store(p, r);
    return static_cast<double>(r) == v.d;
}

} // namespace

CFTypeID CFNumberGetTypeID(void) noexcept {
    return static_cast<CFTypeID>(__CFNumber::TYPE);
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) noexcept {
    Value v;
    if (valuePtr == nullptr || !read(theType, valuePtr, v)) {
        return nullptr;
    }
    return new (std::nothrow) __CFNumber(v);
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) noexcept {
    const Value& v = velk::cf::checked<__CFNumber>(number, "CFNumberGetValue").value;
    if (valuePtr == nullptr) {
        return 0;
    }
    bool exact = false;
    switch (theType) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType:
        exact = write_integer<SInt8>(v, valuePtr);
        break;
    case kCFNumberSInt16Type:
    case kCFNumberShortType:
        exact = write_integer<SInt16>(v, valuePtr);
        break;
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
        exact = write_integer<SInt32>(v, valuePtr);
        break;
    case kCFNumberSInt64Type:
    case kCFNumberLongLongType:
        exact = write_integer<SInt64>(v, valuePtr);
        break;
    case kCFNumberLongType:
    case kCFNumberCFIndexType:
    case kCFNumberNSIntegerType:
        exact = write_integer<long>(v, valuePtr);
        break;
    case kCFNumberFloat32Type:
    case kCFNumberFloatType:
        exact = write_float<Float32>(v, valuePtr);
        break;
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
    case kCFNumberCGFloatType:
        exact = write_float<Float64>(v, valuePtr);
        break;
    default:
        return 0;
    }
    return exact ? 1 : 0;
}

#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <atomic>
#include <cstddef>

namespace velk::cf {

/// Type ids handed out by the `...GetTypeID` functions.
enum class Type : CFTypeID { String = 1, Number, Data, Dictionary, Array };

class Object;

/// What a type does with its objects: one constant table per type, so objects need no
/// virtual functions and a foreign pointer can be told apart by its tag alone.
struct Class {
    Type type;
    void (*destroy)(const Object&) noexcept;
    /// Called only with two objects of this type.
    bool (*equal)(const Object&, const Object&) noexcept;
    CFHashCode (*hash)(const Object&) noexcept;
};

/// The head of every object: a tag, the type's table, the reference count.
class Object {
public:
    explicit Object(const Class& cls) noexcept : class_(&cls) {}
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    bool tagged() const noexcept { return tag_ == TAG; }
    const Class& cls() const noexcept { return *class_; }
    Type type() const noexcept { return class_->type; }

    /// Constant objects ignore retain and release and are never freed.
    void make_immortal() noexcept { immortal_ = true; }
    bool immortal() const noexcept { return immortal_; }

    /// The count is the one mutable part of a shared, otherwise immutable object.
    std::atomic<CFIndex>& refs() const noexcept { return refs_; }

protected:
    ~Object() = default; // through Class::destroy only

private:
    static constexpr UInt32 TAG = 0x76434621; // "vCF!"

    UInt32 tag_ = TAG;
    bool immortal_ = false;
    const Class* class_;
    mutable std::atomic<CFIndex> refs_{1};
};

/// The table of a type `T` deriving from `Object`, with `T::TYPE`,
/// `bool T::equals(const T&) const` and `CFHashCode T::hash() const`.
template <class T>
inline constexpr Class CLASS{
    T::TYPE,
    [](const Object& o) noexcept { delete static_cast<const T*>(&o); },
    [](const Object& a, const Object& b) noexcept {
        return static_cast<const T&>(a).equals(static_cast<const T&>(b));
    },
    [](const Object& o) noexcept { return static_cast<const T&>(o).hash(); },
};

/// Writes "CoreFoundation: <function>: <message>" to stderr and aborts: the platform
/// crashes on the same misuse, so a test off Apple should stop there as well.
[[noreturn]] void fatal(const char* function, const char* message) noexcept;

/// The object behind `ref`, stopping the process for null or a foreign pointer.
const Object& object(CFTypeRef ref, const char* function) noexcept;

/// The object behind `ref` as `T`, stopping the process when it has another type.
template <class T>
const T& checked(CFTypeRef ref, const char* function) noexcept {
    const Object& o = object(ref, function);
    if (o.type() != T::TYPE) {
        fatal(function, "object of the wrong type");
    }
    return static_cast<const T&>(o);
}

/// FNV-1a over bytes, for content hashes.
CFHashCode hash_bytes(const UInt8* bytes, std::size_t size) noexcept;

/// The callbacks behind the kCFType tables: `CFRetain`, `CFRelease`, `CFEqual`, `CFHash`.
const void* retain_callback(CFAllocatorRef allocator, const void* value) noexcept;
void release_callback(CFAllocatorRef allocator, const void* value) noexcept;
Boolean equal_callback(const void* a, const void* b) noexcept;
CFHashCode hash_callback(const void* value) noexcept;

} // namespace velk::cf

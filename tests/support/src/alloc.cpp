#include "velk/test/alloc.hpp"

#include <cstdlib>
#include <new>

// The thread sanitizer's runtime defines the global allocation functions itself,
// so under it nothing is replaced and no allocation is counted.
#if defined(__SANITIZE_THREAD__)
#define VELK_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELK_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef VELK_COUNT_ALLOCATIONS
#define VELK_COUNT_ALLOCATIONS 1
#endif

namespace velk::test {
namespace {

[[maybe_unused]] thread_local std::size_t allocations = 0;

#if VELK_COUNT_ALLOCATIONS
void* allocate(std::size_t size) {
    ++allocations;
    if (size == 0)
        size = 1;
    if (void* p = std::malloc(size))
        return p;
    throw std::bad_alloc();
}

void* allocate_aligned(std::size_t size, std::align_val_t align) {
    ++allocations;
    auto alignment = static_cast<std::size_t>(align);
    if (alignment < sizeof(void*))
        alignment = sizeof(void*);
    if (size == 0)
        size = 1;
    void* p = nullptr;
    if (posix_memalign(&p, alignment, size) != 0)
        throw std::bad_alloc();
    return p;
}
#endif

} // namespace

NoAllocScope::NoAllocScope() noexcept : start_(allocations) {}
NoAllocScope::~NoAllocScope() = default;
std::size_t NoAllocScope::count() const noexcept {
    return allocations - start_;
}
std::size_t thread_allocations() noexcept {
    return allocations;
}
bool counting_allocations() noexcept {
    return VELK_COUNT_ALLOCATIONS != 0;
}

} // namespace velk::test

#if VELK_COUNT_ALLOCATIONS

// Replacements of the global allocation functions for the whole test executable.
void* operator new(std::size_t size) {
    return velk::test::allocate(size);
}
void* operator new[](std::size_t size) {
    return velk::test::allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return velk::test::allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return velk::test::allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new(std::size_t size, std::align_val_t align) {
    return velk::test::allocate_aligned(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align) {
    return velk::test::allocate_aligned(size, align);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
#endif

#pragma once

#include <cstddef>

namespace velk::test {

/// Counts heap allocations made by the current thread while it is alive (the test
/// executable's global operator new is replaced by a counting one). Scopes nest.
class NoAllocScope {
public:
    NoAllocScope() noexcept;
    ~NoAllocScope();
    NoAllocScope(const NoAllocScope&) = delete;
    NoAllocScope& operator=(const NoAllocScope&) = delete;

    /// Allocations on this thread since the scope began.
    std::size_t count() const noexcept;

private:
    std::size_t start_;
};

/// Whether allocations are counted in this build (not under the thread sanitizer,
/// whose runtime owns the allocation functions).
bool counting_allocations() noexcept;

/// All allocations made by the current thread so far.
std::size_t thread_allocations() noexcept;

} // namespace velk::test

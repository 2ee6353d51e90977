#pragma once

#include <cstdint>

namespace velk {

/// Switches the processor to flush subnormals to zero for the lifetime of the
/// guard and restores the caller's mode afterwards: MXCSR FTZ and DAZ on x86,
/// FPCR FZ on 64-bit Arm, nothing elsewhere. One at the top of every audio entry.
class ScopedFlushToZero {
public:
    ScopedFlushToZero() noexcept;
    ~ScopedFlushToZero();
    ScopedFlushToZero(const ScopedFlushToZero&) = delete;
    ScopedFlushToZero& operator=(const ScopedFlushToZero&) = delete;

private:
    std::uint64_t saved_ = 0;
};

/// The current floating-point control register (MXCSR or FPCR), for tests that
/// check a mode is restored; 0 where there is none.
std::uint64_t float_control_register() noexcept;

} // namespace velk

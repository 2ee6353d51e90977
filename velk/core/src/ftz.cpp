#include "velk/core/ftz.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace velk {
namespace {

#if defined(__x86_64__) || defined(__i386__)
constexpr std::uint64_t FLUSH_BITS = 0x8040; // FTZ (bit 15) and DAZ (bit 6)

std::uint64_t read_register() noexcept {
    return _mm_getcsr();
}
void write_register(std::uint64_t value) noexcept {
    _mm_setcsr(static_cast<unsigned int>(value));
}
#elif defined(__aarch64__)
constexpr std::uint64_t FLUSH_BITS = std::uint64_t{1} << 24; // FPCR.FZ

std::uint64_t read_register() noexcept {
    std::uint64_t value;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(value));
    return value;
}
void write_register(std::uint64_t value) noexcept {
    __asm__ __volatile__("msr fpcr, %0" : : "r"(value));
}
#else
constexpr std::uint64_t FLUSH_BITS = 0;
std::uint64_t read_register() noexcept {
    return 0;
}
void write_register(std::uint64_t) noexcept {}
#endif

} // namespace

ScopedFlushToZero::ScopedFlushToZero() noexcept : saved_(read_register()) {
    if ((saved_ & FLUSH_BITS) != FLUSH_BITS)
        write_register(saved_ | FLUSH_BITS);
}

ScopedFlushToZero::~ScopedFlushToZero() {
    if (read_register() != saved_)
        write_register(saved_);
}

std::uint64_t float_control_register() noexcept {
    return read_register();
}

} // namespace velk

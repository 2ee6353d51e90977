#pragma once

#include <cstdint>

namespace velk::bench {

/// One plug-in instance as the timing loop sees it: buffers are connected outside
/// the timed region, then `run` processes a block and is the only call timed.
class Processor {
public:
    Processor() = default;
    virtual ~Processor() = default;
    Processor(const Processor&) = delete;
    Processor& operator=(const Processor&) = delete;

    /// The next block's input and output channel pointers (as many as the instance has).
    virtual void connect(float* const* in, float* const* out) noexcept = 0;
    /// Processes `frames` frames from the connected input into the connected output.
    virtual void run(std::uint32_t frames) noexcept = 0;
};

} // namespace velk::bench

#pragma once

#include <cstddef>

#include "velk/blocks/frame.hpp"

namespace velk::blocks {

/// A value set at control steps that moves linearly from the previous step's value
/// to the new one across one control period. Audio thread; plain data.
struct Glide {
    float previous = 0.0f;
    float current = 0.0f;

    /// Takes the value of a new control step. `jump` (the first step after prepare)
    /// sets both ends, so processing never glides up from zero.
    void set(float value, bool jump) noexcept {
        previous = jump ? value : current;
        current = value;
    }

    /// The value `step` samples into the control period (phase + i + 1, 1 to 32).
    float at(std::size_t step) const noexcept {
        // The last sample of the period is the new value exactly: the straight line
        // previous + (current - previous) can miss it by a rounding step.
        if (previous == current || step >= CONTROL_PERIOD)
            return current;
        return previous +
               (current - previous) * static_cast<float>(step) / static_cast<float>(CONTROL_PERIOD);
    }
};

} // namespace velk::blocks

// The adapter's locks under load: one thread renders while others change everything a
// host may change during playback. Run under the thread sanitizer.

#include "units.hpp"
#include "velk/au_test/stress.hpp"

#include <gtest/gtest.h>

namespace velk::au_test {
namespace {

TEST(AuConcurrency, RenderRunsWhileOtherThreadsConfigure) {
    stress_unit(test_effect(), EFFECT_DESC,
                StressSetup{.param = test_id::GAIN,
                            .low = -20.0f,
                            .high = 6.0f,
                            .own = test_id::LEVEL,
                            .own_low = 0.0f,
                            .own_high = 1.0f});
}

TEST(AuConcurrency, OneChannelOfAPerChannelParameter) {
    stress_unit(test_effect(), EFFECT_DESC,
                StressSetup{.param = test_id::LEVEL + 2,
                            .low = 0.0f,
                            .high = 1.0f,
                            .own = test_id::GAIN,
                            .own_low = -30.0f,
                            .own_high = 6.0f,
                            .channels = 3});
}

} // namespace
} // namespace velk::au_test

#pragma once

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "velk/blocks/block.hpp"
#include "velk/blocks/frame.hpp"
#include "velk/test/alloc.hpp"

#include <gtest/gtest.h>

namespace velk::blocks::testing {

/// One vector of samples per channel, all of the same length.
using Signal = std::vector<std::vector<float>>;

/// Argument values for `info` in table order: every default, with the named ones
/// replaced. An unknown name fails the calling test.
inline std::vector<float> args_for(const BlockInfo& info,
                                   std::initializer_list<std::pair<std::string_view, float>> set) {
    std::vector<float> values;
    for (const ArgInfo& a : info.args)
        values.push_back(a.default_value);
    for (const auto& entry : set) {
        const std::string_view name = entry.first;
        const auto it = std::find_if(info.args.begin(), info.args.end(),
                                     [name](const ArgInfo& a) { return a.name == name; });
        if (it == info.args.end()) {
            ADD_FAILURE() << "no argument '" << name << "' in '" << info.name << "'";
            continue;
        }
        values[static_cast<std::size_t>(it - info.args.begin())] = entry.second;
    }
    return values;
}

/// A fresh block of kind `info`, configured with `configured` and prepared.
inline std::unique_ptr<Block> prepared(const BlockInfo& info, float sample_rate,
                                       std::size_t channels,
                                       const std::vector<float>& configured = {}) {
    auto block = info.make();
    block->configure(configured.empty() ? args_for(info, {}) : configured);
    block->prepare(sample_rate, channels);
    return block;
}

/// Runs `input` through `block` starting at a control period boundary. Period k is
/// controlled with steps[k] (the last entry repeats) and cut into frames of the
/// `split` sizes, which should add up to 32.
inline Signal run(Block& block, const Signal& input, const std::vector<std::vector<float>>& steps,
                  const std::vector<std::size_t>& split = {CONTROL_PERIOD}) {
    const std::size_t channels = input.size();
    const std::size_t length = channels == 0 ? 0 : input[0].size();
    Signal output = input;
    Frame frame(channels);
    std::size_t pos = 0;
    for (std::size_t period = 0; pos < length; ++period) {
        block.control(steps[std::min(period, steps.size() - 1)]);
        std::size_t phase = 0;
        for (std::size_t size : split) {
            frame.len = std::min({size, length - pos, CONTROL_PERIOD - phase});
            if (frame.len == 0)
                break;
            for (std::size_t c = 0; c < channels; ++c)
                std::copy_n(input[c].begin() + static_cast<std::ptrdiff_t>(pos), frame.len,
                            frame.row(c).begin());
            block.process(frame, phase);
            for (std::size_t c = 0; c < channels; ++c)
                std::copy_n(frame.row(c).begin(), frame.len,
                            output[c].begin() + static_cast<std::ptrdiff_t>(pos));
            pos += frame.len;
            phase += frame.len;
        }
    }
    return output;
}

/// `length` samples of silence on each of `channels` channels.
inline Signal silence(std::size_t channels, std::size_t length) {
    return Signal(channels, std::vector<float>(length, 0.0f));
}

/// Expects control, process and tail of a prepared block not to allocate.
inline void expect_no_allocations(Block& block, const std::vector<float>& values,
                                  std::size_t channels) {
    Frame frame(channels);
    frame.len = CONTROL_PERIOD;
    for (std::size_t c = 0; c < channels; ++c)
        frame.row(c)[0] = 0.5f;
    velk::test::NoAllocScope scope;
    for (int period = 0; period < 8; ++period) {
        block.control(values);
        block.process(frame, 0);
    }
    static_cast<void>(block.tail(values, 48000.0f));
    if (velk::test::counting_allocations()) {
        EXPECT_EQ(scope.count(), 0u);
    }
}

} // namespace velk::blocks::testing

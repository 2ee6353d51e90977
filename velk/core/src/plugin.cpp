#include "velk/core/plugin.hpp"

#include <algorithm>
#include <cassert>
#include <utility>

namespace velk {

bool ChannelList::push(std::span<float> run) noexcept {
    if (size_ == CAPACITY)
        return false;
    runs_[size_++] = run;
    return true;
}

ChannelBounds channel_bounds(Channels rule) noexcept {
    switch (rule.rule) {
    case Channels::Fixed: {
        const std::uint32_t n = std::clamp<std::uint32_t>(rule.min, 1, MAX_CHANNELS);
        return {n, n};
    }
    case Channels::Range: {
        const std::uint32_t lo = std::clamp<std::uint32_t>(rule.min, 1, MAX_CHANNELS);
        const std::uint32_t hi = std::max(std::min(rule.max, MAX_CHANNELS), lo);
        return {lo, hi};
    }
    case Channels::Any:
        break;
    }
    return {};
}

ChannelBounds channel_bounds(const Layout& layout) noexcept {
    if (!layout.inputs.empty())
        return channel_bounds(layout.inputs.front().channels);
    if (!layout.outputs.empty())
        return channel_bounds(layout.outputs.front().channels);
    return {};
}

ChannelBounds input_channel_bounds(const Layout& layout) noexcept {
    if (!layout.inputs.empty())
        return channel_bounds(layout.inputs.front().channels);
    return {};
}

Inner::Inner(std::unique_ptr<Plugin> plugin) noexcept : plugin_(std::move(plugin)) {
    assert(plugin_ != nullptr);
}

void Inner::prepare(const ProcessSetup& setup) {
    // A prepare that throws part-way leaves buffers of unknown size behind.
    prepared_ = false;
    plugin_->prepare(setup);
    prepared_ = true;
}

void Inner::process(ChannelBuffers channels, const ProcessContext& context) noexcept {
    if (channels.empty() || !prepared_)
        return;
    plugin_->process(channels, context);
}

} // namespace velk

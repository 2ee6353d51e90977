#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "velk/core/plugin.hpp"

namespace velk::test {

/// Block sizes that cross every 32-sample boundary in a different place.
inline constexpr std::array<std::size_t, 4> UNEVEN_BLOCKS{100, 1, 31, 64};

/// Anything with `process(ChannelBuffers, const ProcessContext&)`: a `Plugin` or an `Inner`.
template <typename T>
concept BlockProcessor = requires(T& t, ChannelBuffers channels, const ProcessContext& context) {
    t.process(channels, context);
};

/// Feeds `audio` (one vector per channel, at most 64, all as long as the first)
/// through `target` in place, one block after another with the sizes in `blocks`,
/// cycling, the way an adapter does: a reused channel list, refilled before each
/// call and cleared after. A present `context.position` advances by each block.
/// A block size of 0 counts as 1. Returns the number of calls. Allocates nothing.
template <BlockProcessor T>
std::size_t run_in_blocks(T& target, std::vector<std::vector<float>>& audio,
                          ProcessContext context = {},
                          std::span<const std::size_t> blocks = UNEVEN_BLOCKS) {
    if (audio.empty() || blocks.empty())
        return 0;
    const std::size_t frames = audio.front().size();
    ChannelList list;
    std::size_t calls = 0;
    for (std::size_t at = 0, b = 0; at < frames; b = (b + 1) % blocks.size()) {
        const std::size_t n = std::min(std::max<std::size_t>(blocks[b], 1), frames - at);
        for (std::vector<float>& channel : audio)
            list.push(std::span<float>(channel).subspan(at, n));
        target.process(list.runs(), context);
        list.clear();
        ++calls;
        at += n;
        if (context.position)
            *context.position += static_cast<double>(n);
    }
    return calls;
}

} // namespace velk::test

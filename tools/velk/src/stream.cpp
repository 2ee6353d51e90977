#include "stream.hpp"

#include <algorithm>
#include <cmath>

#include "progress.hpp"

namespace velk::tool {

Result<Streamed> stream(const Audio& input, std::size_t block, std::uint32_t latency,
                        const std::function<std::uint32_t()>& tail, const ProcessBlock& process,
                        const AfterBlock& after, const std::string& label) {
    const std::size_t channels = input.channels.size();
    const std::size_t frames = input.frames();
    const double rate = input.sample_rate;
    Streamed out;
    out.audio.sample_rate = input.sample_rate;
    out.audio.format = input.format;
    out.audio.channels.assign(channels, {});

    std::vector<std::vector<float>> in_block(channels, std::vector<float>(block));
    std::vector<std::vector<float>> out_block(channels, std::vector<float>(block));
    std::vector<float*> in_ptrs(channels);
    std::vector<float*> out_ptrs(channels);
    for (std::size_t c = 0; c < channels; ++c) {
        in_ptrs[c] = in_block[c].data();
        out_ptrs[c] = out_block[c].data();
    }

    // The total is known once the tail is; until then the progress counts the input.
    std::size_t total = frames + latency;
    bool tail_known = false;
    const auto learn_tail = [&] {
        tail_known = true;
        const std::uint32_t reported = tail();
        const auto longest = static_cast<std::uint32_t>(std::lround(MAX_TAIL_SECONDS * rate));
        out.tail = std::min(reported, longest);
        out.tail_cut = reported > longest;
        total += out.tail;
    };
    if (frames == 0)
        learn_tail();

    Progress progress(label, total);
    for (std::size_t at = 0; at < total;) {
        const std::size_t n = std::min(block, total - at);
        for (std::size_t c = 0; c < channels; ++c) {
            const std::vector<float>& source = input.channels[c];
            for (std::size_t i = 0; i < n; ++i)
                in_block[c][i] = at + i < frames ? source[at + i] : 0.0f;
            std::fill(out_block[c].begin(), out_block[c].begin() + static_cast<std::ptrdiff_t>(n),
                      0.0f);
        }
        if (Result<void> done =
                process(in_ptrs.data(), out_ptrs.data(), static_cast<std::uint32_t>(n));
            !done)
            return fail(done.error());
        ++out.blocks;
        // Output frame k is processed frame k + latency.
        const std::size_t keep_from = at < latency ? latency - at : 0;
        for (std::size_t c = 0; c < channels; ++c)
            for (std::size_t i = keep_from; i < n; ++i)
                out.audio.channels[c].push_back(out_block[c][i]);
        at += n;
        if (!tail_known && at >= frames) {
            learn_tail();
            progress.set_total(total);
        }
        if (after) {
            const double end = static_cast<double>(at) - static_cast<double>(latency);
            after(std::max(0.0, end) / rate);
        }
        progress.update(at);
    }
    progress.finish();
    return out;
}

} // namespace velk::tool

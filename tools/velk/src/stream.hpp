#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio_file.hpp"
#include "velk/core/result.hpp"

/// The processing loop `render` and `run` share: a whole file through a processor
/// in blocks, then its tail, with the output aligned to the input.
namespace velk::tool {

/// Longest tail rendered, in seconds; an infinite tail is cut there.
inline constexpr double MAX_TAIL_SECONDS = 30.0;

/// Processes one block: `frames` frames of every channel from `in` into `out`.
using ProcessBlock = std::function<Result<void>(float** in, float** out, std::uint32_t frames)>;

/// Called after each block with the output time, in seconds, at the block's end.
using AfterBlock = std::function<void(double seconds)>;

struct Streamed {
    Audio audio;            ///< The input's length plus the tail, in the input's format.
    std::uint32_t tail = 0; ///< Tail frames rendered.
    bool tail_cut = false;  ///< The reported tail was longer than `MAX_TAIL_SECONDS`.
    std::size_t blocks = 0; ///< Blocks processed.
};

/// Feeds `input` and then silence through `process` in blocks of at most `block`
/// frames. After the last input frame `tail()` gives the tail; processing goes on
/// for the tail plus `latency` frames, and the first `latency` output frames are
/// dropped, so that the output lines up with the input. Stops at the first failure.
Result<Streamed> stream(const Audio& input, std::size_t block, std::uint32_t latency,
                        const std::function<std::uint32_t()>& tail, const ProcessBlock& process,
                        const AfterBlock& after, const std::string& label);

} // namespace velk::tool

#include "velk/blocks/frame.hpp"

namespace velk::blocks {

void Frame::reset(std::size_t channels) {
    samples_.assign(channels * CONTROL_PERIOD, 0.0f);
    channels_ = channels;
    len = 0;
}

} // namespace velk::blocks

#include "halvex/halvex.hpp"

namespace halvex {

Halvex::Halvex() : params_(velk::ParamSet::with_channels(param_table(), CHANNEL_CAPACITY)) {}

void Halvex::prepare(const velk::ProcessSetup& setup) {
    state_.graph().prepare(setup);
}

void Halvex::process(velk::ChannelBuffers channels, const velk::ProcessContext& context) noexcept {
    state_.graph().process(params_, channels, context);
}

std::uint32_t Halvex::latency_samples() noexcept {
    return state_.graph().latency_samples();
}

std::uint32_t Halvex::tail_samples() noexcept {
    return state_.graph().tail_for(params_);
}

} // namespace halvex

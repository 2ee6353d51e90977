// halvex.clap's state loading through a host stream. The input starts with a piece
// schedule: one byte n, then n + 1 bytes, one per read call in turn, each saying
// what that call does (hand out up to 1 to 200 bytes, as many as asked, fail, claim
// more than asked, end early, or never end from then on); then a
// byte choosing whether the host offers its parameters extension; the rest is the
// state. A load from a stream that fails, over-claims or never ends is refused and
// changes nothing. Otherwise the load does exactly what `state::load` does with the
// bytes the stream delivered before its end, and an accepted one asks the host to
// rescan values once, when it offers the extension.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "halvex/halvex.hpp"
#include "support/bytes.hpp"
#include "support/check.hpp"
#include "support/clap_host.hpp"
#include "velk/core/param.hpp"
#include "velk/core/state.hpp"

namespace {

using velk::fuzz::ClapHost;
using velk::fuzz::Halvex;

enum class Piece { Bytes, All, Fail, OverClaim, EarlyEnd, Endless };

struct Step {
    Piece piece = Piece::All;
    std::uint64_t bytes = 0; // for Piece::Bytes
};

Step step_of(std::uint8_t b) {
    if (b < 200)
        return {Piece::Bytes, std::uint64_t{b} + 1};
    if (b < 230)
        return {Piece::All};
    if (b < 238)
        return {Piece::Fail};
    if (b < 244)
        return {Piece::OverClaim};
    if (b < 250)
        return {Piece::EarlyEnd};
    return {Piece::Endless};
}

class Stream {
public:
    Stream(std::span<const std::uint8_t> bytes, std::vector<Step> steps)
        : bytes_(bytes), steps_(std::move(steps)) {}

    const clap_istream* raw() const noexcept { return &stream_; }
    /// What the reader was handed before the stream ended, failed or over-claimed.
    const std::vector<std::uint8_t>& delivered() const noexcept { return delivered_; }
    bool broke() const noexcept { return broke_; }
    bool endless() const noexcept { return endless_; }

private:
    static std::int64_t read(const clap_istream* stream, void* buffer,
                             std::uint64_t size) noexcept {
        auto& self = *static_cast<Stream*>(stream->ctx);
        VELK_FUZZ_CHECK(!self.finished_);
        const Step step = self.steps_[self.calls_++ % self.steps_.size()];
        auto* out = static_cast<std::uint8_t*>(buffer);
        // Once endless, every call fills all it is asked for: what it holds does not
        // matter, as the stream must be refused.
        self.endless_ = self.endless_ || step.piece == Piece::Endless;
        if (self.endless_) {
            std::memset(out, 0, size);
            return static_cast<std::int64_t>(size);
        }
        if (step.piece == Piece::Fail || step.piece == Piece::OverClaim) {
            self.broke_ = true;
            self.finished_ = true;
            return step.piece == Piece::Fail ? -1 : static_cast<std::int64_t>(size + 1);
        }
        std::uint64_t n = step.piece == Piece::Bytes ? std::min(step.bytes, size) : size;
        if (step.piece == Piece::EarlyEnd)
            n = 0;
        n = std::min<std::uint64_t>(n, self.bytes_.size() - self.at_);
        std::copy_n(self.bytes_.begin() + static_cast<std::ptrdiff_t>(self.at_), n, out);
        self.delivered_.insert(self.delivered_.end(), out, out + n);
        self.at_ += n;
        if (n == 0)
            self.finished_ = true;
        return static_cast<std::int64_t>(n);
    }

    std::span<const std::uint8_t> bytes_;
    std::vector<Step> steps_;
    std::size_t at_ = 0;
    std::size_t calls_ = 0;
    bool broke_ = false;
    bool endless_ = false;
    bool finished_ = false;
    std::vector<std::uint8_t> delivered_;
    clap_istream stream_{this, read};
};

bool same_values(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i]))
            return false;
    return true;
}

// Values away from the defaults, written as a host would (not the meter, which a
// host cannot write), so that a load that wrongly resets is seen.
void set_apart(const Halvex& h, const velk::ParamSet& reference) {
    velk::fuzz::Events events;
    for (std::size_t i = 0; i < reference.len(); ++i) {
        const velk::ParamInfo& info = reference.at(i).info();
        if (info.kind == velk::Kind::Meter)
            continue;
        const float v = info.default_value == info.max ? info.min : info.max;
        reference.at(i).set(v);
        const clap_event_param_value e =
            velk::fuzz::param_event(static_cast<clap_id>(i * 128), static_cast<double>(v));
        events.add(&e, sizeof e);
    }
    h.params().flush(h.get(), events.raw(), nullptr);
}

std::vector<double> values_of(const velk::ParamSet& set) {
    std::vector<double> out;
    for (std::size_t i = 0; i < set.len(); ++i)
        out.push_back(static_cast<double>(set.at(i).get()));
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velk::fuzz::Bytes in({data, size});
    std::vector<Step> steps;
    const std::size_t count = in.u8() % 8 + 1;
    for (std::size_t i = 0; i < count; ++i)
        steps.push_back(step_of(in.u8()));
    const bool offer_params = in.u8() % 2 == 0;
    const std::span<const std::uint8_t> bytes = in.take(size);

    ClapHost host(offer_params);
    const Halvex h(host);
    const velk::ParamSet reference =
        velk::ParamSet::with_channels(halvex::param_table(), halvex::CHANNEL_CAPACITY);
    set_apart(h, reference);
    const std::vector<double> before = h.values();
    VELK_FUZZ_CHECK(same_values(before, values_of(reference)));

    Stream stream(bytes, steps);
    const bool accepted = h.state().load(h.get(), stream.raw());
    if (stream.broke() || stream.endless()) {
        VELK_FUZZ_CHECK(!accepted);
        VELK_FUZZ_CHECK(same_values(h.values(), before));
        VELK_FUZZ_CHECK(host.value_rescans == 0);
        return 0;
    }
    VELK_FUZZ_CHECK(accepted == velk::state::load(reference, stream.delivered()));
    VELK_FUZZ_CHECK(same_values(h.values(), values_of(reference)));
    VELK_FUZZ_CHECK(host.value_rescans == (accepted && offer_params ? 1 : 0));
    VELK_FUZZ_CHECK(host.other_rescans == 0);

    // Whatever was loaded saves as the compressor's 84 bytes, which load back.
    const std::vector<std::uint8_t> saved = h.save();
    VELK_FUZZ_CHECK(saved.size() == 84);
    const velk::ParamSet copy =
        velk::ParamSet::with_channels(halvex::param_table(), halvex::CHANNEL_CAPACITY);
    VELK_FUZZ_CHECK(velk::state::load(copy, saved));
    return 0;
}

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>

#include "velk/graph/graph.hpp"

namespace velk::graph {
namespace {

using blocks::CONTROL_PERIOD;
using blocks::Frame;

/// Output samples below this magnitude reach the host as 0.
constexpr float OUTPUT_FLUSH = 1e-30f;
constexpr float DB_TO_LN = 0.11512925f;
constexpr float LOWEST_RATE = 8000.0f;
constexpr float DEFAULT_TEMPO = 120.0f;
constexpr std::size_t TAIL_SCRATCH = 256;
/// The most arguments a block's tail is asked with.
constexpr std::size_t TAIL_ARGS = 32;

template <typename... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <typename... F>
Overloaded(F...) -> Overloaded<F...>;

std::uint32_t xorshift(std::uint32_t x) noexcept {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

// The generator state as a value in [-1, 1).
float to_bipolar(std::uint32_t x) noexcept {
    return static_cast<float>(x) * 0x1p-32f * 2.0f - 1.0f;
}

float value_of(const Arg& arg, const expr::Env& env) noexcept {
    return arg.expr ? expr::eval(*arg.expr, env) : arg.value;
}

// NaN takes the default; anything else is clamped, and a choice is rounded with
// halves away from zero.
float sanitise(float v, const blocks::ArgInfo& row) noexcept {
    if (std::isnan(v))
        return row.default_value;
    v = std::clamp(v, row.min, row.max);
    return row.choices.empty() ? v : std::round(v);
}

// Copies `from.len` samples of every row both frames have, and the length.
void copy_frame(const Frame& from, Frame& to) noexcept {
    to.len = from.len;
    const std::size_t channels = std::min(from.channels(), to.channels());
    for (std::size_t c = 0; c < channels; ++c)
        std::copy_n(from.row(c).data(), from.len, to.row(c).data());
}

// Samples below the flush level become 0; NaN fails the comparison and passes unchanged.
[[gnu::always_inline]] inline void copy_out(const float* __restrict from, std::size_t len,
                                            float* __restrict to) noexcept {
    for (std::size_t j = 0; j < len; ++j)
        to[j] = std::fabs(from[j]) < OUTPUT_FLUSH ? 0.0f : from[j];
}

std::uint32_t block_tail(const BlockNode& node, const expr::Env& env) noexcept {
    std::array<float, TAIL_ARGS> values{};
    const std::size_t count = std::min(node.args.size(), TAIL_ARGS);
    for (std::size_t i = 0; i < count; ++i)
        values[i] = sanitise(value_of(node.args[i], env), node.info->args[i]);
    return node.block->tail(std::span<const float>(values.data(), count), env.rate);
}

void control_mix(MixNode& mix, const expr::Env& env) noexcept {
    mix.inner.control(env);
    float m = mix.mix ? expr::eval(*mix.mix, env) : 1.0f;
    if (!std::isfinite(m))
        m = 1.0f;
    else if (m < 0.0f)
        m = 0.0f;
    else if (m > 1.0f)
        m = 1.0f;
    // Not below 0.5 bypasses, NaN included.
    if (mix.bypass && !(expr::eval(*mix.bypass, env) < 0.5f))
        m = 0.0f;
    mix.wet.set(m);
}

void process_parallel(ParallelNode& node, Frame& frame, std::size_t phase) noexcept {
    const std::size_t len = frame.len;
    copy_frame(frame, node.input);
    node.sum.len = len;
    for (std::size_t c = 0; c < node.sum.channels(); ++c)
        std::fill_n(node.sum.row(c).data(), len, 0.0f);

    std::array<float, CONTROL_PERIOD> gain{};
    for (Branch& branch : node.branches) {
        copy_frame(node.input, branch.frame);
        branch.node.process(branch.frame, phase);
        branch.lines.process(branch.frame);
        branch.gain.factors(phase, len, gain.data());
        const std::size_t channels = std::min(branch.frame.channels(), node.sum.channels());
        for (std::size_t c = 0; c < channels; ++c) {
            const float* x = branch.frame.row(c).data();
            float* sum = node.sum.row(c).data();
            for (std::size_t j = 0; j < len; ++j)
                sum[j] += x[j] * gain[j];
        }
    }
    copy_frame(node.sum, frame);
}

void process_mix(MixNode& node, Frame& frame, std::size_t phase) noexcept {
    const Fade& wet = node.wet;
    // Fully wet over the whole selection: the dry path is neither fed nor advanced.
    if (wet.start == 1.0f && wet.target == 1.0f && !node.only) {
        node.inner.process(frame, phase);
        return;
    }

    const std::size_t len = frame.len;
    copy_frame(frame, node.dry);
    node.lines.process(node.dry);

    const bool dry_only = !(wet.start > 0.0f) && !(wet.target > 0.0f);
    if (!dry_only)
        node.inner.process(frame, phase);

    std::array<float, CONTROL_PERIOD> w{};
    wet.factors(phase, len, w.data());
    const std::size_t channels = std::min(frame.channels(), node.dry.channels());
    for (std::size_t c = 0; c < channels; ++c) {
        const float* dry = node.dry.row(c).data();
        float* x = frame.row(c).data();
        const bool excluded =
            node.only && (c >= node.wet_channels.size() || node.wet_channels[c] == 0);
        if (dry_only || excluded) {
            std::copy_n(dry, len, x);
            continue;
        }
        for (std::size_t j = 0; j < len; ++j)
            x[j] = dry[j] + w[j] * (x[j] - dry[j]);
    }
}

void prepare_parallel(ParallelNode& node, std::size_t channels, float sample_rate) {
    for (Branch& branch : node.branches)
        branch.node.prepare(channels, sample_rate);
    std::uint32_t slowest = 0;
    for (const Branch& branch : node.branches)
        slowest = std::max(slowest, branch.node.latency());
    for (Branch& branch : node.branches) {
        branch.lines.reset(channels, slowest - branch.node.latency());
        branch.frame.reset(channels);
        branch.gain.reset();
    }
    node.input.reset(channels);
    node.sum.reset(channels);
}

void collect_expr_slots(const std::optional<expr::Expr>& e, std::vector<std::size_t>& slots) {
    if (e)
        for (const expr::Node& n : e->nodes())
            if (n.kind == expr::Kind::Slot)
                slots.push_back(n.slot);
}

// Collects the slots that the argument expressions of the blocks below `node` that
// can have a tail read; true when there is such a block.
bool collect_tail_slots(const Node& node, std::vector<std::size_t>& slots) {
    return std::visit(
        Overloaded{
            [&](const BlockNode& n) {
                if (n.info->no_tail)
                    return false;
                for (const Arg& arg : n.args)
                    collect_expr_slots(arg.expr, slots);
                return true;
            },
            [&](const ChainNode& n) {
                bool any = false;
                for (const Node& child : n.nodes)
                    any |= collect_tail_slots(child, slots);
                return any;
            },
            [&](const ParallelNode& n) {
                bool any = false;
                for (const Branch& branch : n.branches)
                    any |= collect_tail_slots(branch.node, slots);
                return any;
            },
            [&](const std::unique_ptr<MixNode>& n) { return collect_tail_slots(n->inner, slots); },
        },
        node.body);
}

// The slots that any expression below `node` reads: arguments, gains, mix and bypass.
void collect_control_slots(const Node& node, std::vector<std::size_t>& slots) {
    std::visit(Overloaded{
                   [&](const BlockNode& n) {
                       for (const Arg& arg : n.args)
                           collect_expr_slots(arg.expr, slots);
                   },
                   [&](const ChainNode& n) {
                       for (const Node& child : n.nodes)
                           collect_control_slots(child, slots);
                   },
                   [&](const ParallelNode& n) {
                       for (const Branch& branch : n.branches) {
                           collect_control_slots(branch.node, slots);
                           collect_expr_slots(branch.gain_db, slots);
                       }
                   },
                   [&](const std::unique_ptr<MixNode>& n) {
                       collect_control_slots(n->inner, slots);
                       collect_expr_slots(n->mix, slots);
                       collect_expr_slots(n->bypass, slots);
                   },
               },
               node.body);
}

void sort_unique(std::vector<std::size_t>& v) {
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
}

void prepare_mix(MixNode& node, std::size_t channels, float sample_rate) {
    node.inner.prepare(channels, sample_rate);
    node.lines.reset(channels, node.inner.latency());
    node.dry.reset(channels);
    node.wet.reset();
    node.wet_channels.assign(channels, node.only ? 0 : 1);
    if (node.only)
        for (std::size_t c : *node.only)
            if (c < channels)
                node.wet_channels[c] = 1;
}

} // namespace

void Modulator::seed(std::size_t index) noexcept {
    // The golden-ratio sequence, made odd so the state is never 0.
    const auto x = static_cast<std::uint32_t>((index + 1) * 0x9E3779B9u) | 1u;
    state = xorshift(x);
    held = to_bipolar(state);
    phase = 0.0f;
}

float Modulator::advance(float rate_hz, float sample_rate) noexcept {
    const float t = phase;
    const float w = t + (rate_hz * static_cast<float>(CONTROL_PERIOD)) / sample_rate;
    float out = 0.0f;
    switch (shape) {
    case Shape::Sine:
        out = std::sin(t * 6.2831855f);
        break;
    case Shape::Triangle:
        out = 1.0f - 4.0f * std::fabs(t - 0.5f);
        break;
    case Shape::Saw:
        out = 2.0f * t - 1.0f;
        break;
    case Shape::Square:
        out = t < 0.5f ? 1.0f : -1.0f;
        break;
    case Shape::Random:
        out = held;
        // A new value is drawn when the phase wraps, and read from the next step on.
        if (w >= 1.0f) {
            state = xorshift(state);
            held = to_bipolar(state);
        }
        break;
    }
    phase = w - std::trunc(w);
    return out;
}

void Fade::set(float value) noexcept {
    start = computed ? target : value;
    computed = true;
    target = value;
}

void Fade::factors(std::size_t phase, std::size_t len, float* out) const noexcept {
    if (start == target) {
        std::fill_n(out, len, target);
        return;
    }
    const float span = target - start;
    for (std::size_t j = 0; j < len; ++j)
        out[j] =
            start + (static_cast<float>(phase + j + 1) / static_cast<float>(CONTROL_PERIOD)) * span;
    // The period's last sample is the target exactly; the line can miss it by a rounding step.
    if (len > 0 && phase + len == CONTROL_PERIOD)
        out[len - 1] = target;
}

void DelayLines::reset(std::size_t channels, std::size_t length) {
    samples_.assign(channels * length, 0.0f);
    channels_ = channels;
    length_ = length;
    pos_ = 0;
}

void DelayLines::process(Frame& frame) noexcept {
    const std::size_t len = frame.len;
    if (length_ == 0 || len == 0)
        return;
    const std::size_t channels = std::min(channels_, frame.channels());
    for (std::size_t c = 0; c < channels; ++c) {
        float* line = samples_.data() + c * length_;
        float* x = frame.row(c).data();
        // Swapping puts the input into the line and the sample from `length_` ago into
        // the frame; runs stop at the line's end, so a line shorter than the chunk works.
        std::size_t pos = pos_;
        for (std::size_t done = 0; done < len;) {
            const std::size_t run = std::min(len - done, length_ - pos);
            std::swap_ranges(x + done, x + done + run, line + pos);
            done += run;
            pos += run;
            if (pos == length_)
                pos = 0;
        }
    }
    pos_ = (pos_ + len) % length_;
}

Node::Node(Body b) : body(std::move(b)) {}
Node::Node(Node&&) noexcept = default;
Node& Node::operator=(Node&&) noexcept = default;
Node::~Node() = default;

void Node::prepare(std::size_t channels, float sample_rate) {
    std::visit(Overloaded{
                   [&](BlockNode& n) { n.block->prepare(sample_rate, channels); },
                   [&](ChainNode& n) {
                       for (Node& child : n.nodes)
                           child.prepare(channels, sample_rate);
                   },
                   [&](ParallelNode& n) { prepare_parallel(n, channels, sample_rate); },
                   [&](std::unique_ptr<MixNode>& n) { prepare_mix(*n, channels, sample_rate); },
               },
               body);
}

void Node::control(const expr::Env& env) noexcept {
    std::visit(Overloaded{
                   [&](BlockNode& n) {
                       for (std::size_t i = 0; i < n.args.size(); ++i)
                           if (n.args[i].expr || !n.constants_set)
                               n.values[i] = sanitise(value_of(n.args[i], env), n.info->args[i]);
                       n.constants_set = true;
                       n.block->control(n.values);
                   },
                   [&](ChainNode& n) {
                       for (Node& child : n.nodes)
                           child.control(env);
                   },
                   [&](ParallelNode& n) {
                       for (Branch& branch : n.branches) {
                           branch.node.control(env);
                           float g = 1.0f;
                           if (branch.gain_db) {
                               const float db = std::clamp(expr::eval(*branch.gain_db, env),
                                                           GAIN_ROW.min, GAIN_ROW.max);
                               g = std::exp(db * DB_TO_LN);
                               if (!std::isfinite(g))
                                   g = 1.0f;
                           }
                           branch.gain.set(g);
                       }
                   },
                   [&](std::unique_ptr<MixNode>& n) { control_mix(*n, env); },
               },
               body);
}

namespace {

// Fade::set with the target it has; false when that changes nothing.
bool hold(Fade& fade) noexcept {
    const bool moving = !fade.computed || fade.start != fade.target;
    fade.set(fade.target);
    return moving;
}

} // namespace

bool Node::repeat_control() noexcept {
    return std::visit(Overloaded{
                          [&](BlockNode& n) {
                              if (n.info->pure_control)
                                  return false;
                              n.block->control(n.values);
                              return true;
                          },
                          [&](ChainNode& n) {
                              bool active = false;
                              for (Node& child : n.nodes)
                                  active |= child.repeat_control();
                              return active;
                          },
                          [&](ParallelNode& n) {
                              bool active = false;
                              for (Branch& branch : n.branches) {
                                  active |= branch.node.repeat_control();
                                  active |= hold(branch.gain);
                              }
                              return active;
                          },
                          [&](std::unique_ptr<MixNode>& n) {
                              const bool active = n->inner.repeat_control();
                              return hold(n->wet) || active;
                          },
                      },
                      body);
}

void Node::process(Frame& frame, std::size_t phase) noexcept {
    switch (body.index()) {
    case 0:
        std::get_if<BlockNode>(&body)->block->process(frame, phase);
        break;
    case 1:
        for (Node& child : std::get_if<ChainNode>(&body)->nodes)
            child.process(frame, phase);
        break;
    case 2:
        process_parallel(*std::get_if<ParallelNode>(&body), frame, phase);
        break;
    default:
        process_mix(**std::get_if<std::unique_ptr<MixNode>>(&body), frame, phase);
        break;
    }
}

std::uint32_t Node::latency() const noexcept {
    return std::visit(Overloaded{
                          [](const BlockNode& n) { return n.block->latency(); },
                          [](const ChainNode& n) {
                              std::uint32_t sum = 0; // wraps, like the block counts it adds
                              for (const Node& child : n.nodes)
                                  sum += child.latency();
                              return sum;
                          },
                          [](const ParallelNode& n) {
                              std::uint32_t slowest = 0;
                              for (const Branch& branch : n.branches)
                                  slowest = std::max(slowest, branch.node.latency());
                              return slowest;
                          },
                          [](const std::unique_ptr<MixNode>& n) { return n->inner.latency(); },
                      },
                      body);
}

std::uint32_t Node::tail(const expr::Env& env) const noexcept {
    return std::visit(Overloaded{
                          [&](const BlockNode& n) { return block_tail(n, env); },
                          [&](const ChainNode& n) {
                              std::uint32_t sum = 0;
                              for (const Node& child : n.nodes)
                                  sum += child.tail(env);
                              return sum;
                          },
                          [&](const ParallelNode& n) {
                              std::uint32_t longest = 0;
                              for (const Branch& branch : n.branches)
                                  longest = std::max(longest, branch.node.tail(env));
                              return longest;
                          },
                          [&](const std::unique_ptr<MixNode>& n) { return n->inner.tail(env); },
                      },
                      body);
}

void Node::write_meters(const ParamSet& params) const noexcept {
    std::visit(Overloaded{
                   [&](const BlockNode& n) {
                       // A set with fewer parameters than the graph was compiled for
                       // has no cell for the binding.
                       for (const MeterBind& bind : n.meters)
                           if (bind.param < params.len())
                               params.at(bind.param).set(n.block->meter(bind.meter));
                   },
                   [&](const ChainNode& n) {
                       for (const Node& child : n.nodes)
                           child.write_meters(params);
                   },
                   [&](const ParallelNode& n) {
                       for (const Branch& branch : n.branches)
                           branch.node.write_meters(params);
                   },
                   [&](const std::unique_ptr<MixNode>& n) { n->inner.write_meters(params); },
               },
               body);
}

Graph::Graph(Node root, std::vector<Modulator> modulators, std::size_t params)
    : root_(std::move(root)),
      modulators_(std::move(modulators)),
      env_(params + modulators_.size(), 0.0f),
      params_(params) {
    has_tail_ = collect_tail_slots(root_, tail_slots_);
    sort_unique(tail_slots_);
    tail_env_.assign(tail_slots_.size(), 0.0f);
    collect_control_slots(root_, control_slots_);
    sort_unique(control_slots_);
    control_env_.assign(control_slots_.size(), 0.0f);
}

void Graph::prepare(const ProcessSetup& setup) {
    // Not-a-number and infinite rates are unusable; both take the lowest rate. The
    // highest bounds what the delay lines take.
    sample_rate_ = std::isfinite(setup.sample_rate) && setup.sample_rate > LOWEST_RATE
                       ? std::min(setup.sample_rate, MAX_SAMPLE_RATE)
                       : LOWEST_RATE;
    channels_ = setup.channels == 0 ? 1 : setup.channels;
    frame_.reset(channels_);
    position_ = 0;
    for (std::size_t i = 0; i < modulators_.size(); ++i)
        modulators_[i].seed(i);
    root_.prepare(channels_, sample_rate_);
    control_known_ = false;
}

void Graph::control_step(const ParamSet& params) noexcept {
    params.read(std::span<float>(env_.data(), params_));
    // Evaluated against the slots as they are being updated: a modulator's rate sees
    // the modulators before it at this step's values.
    const expr::Env env{.slots = env_, .rate = sample_rate_, .bpm = tempo_};
    for (std::size_t i = 0; i < modulators_.size(); ++i) {
        Modulator& mod = modulators_[i];
        float rate = value_of(mod.rate, env);
        rate = std::isnan(rate) ? 1.0f : std::clamp(rate, RATE_ROW.min, RATE_ROW.max);
        env_[params_ + i] = mod.advance(rate, sample_rate_);
    }

    // Expressions depend only on the slots they read, the sample rate (fixed since
    // prepare) and the tempo; while those hold, every value is the last step's again.
    const auto bits = [](float v) {
        return std::bit_cast<std::uint32_t>(v);
    };
    bool same = control_known_ && bits(tempo_) == bits(control_bpm_);
    for (std::size_t i = 0; same && i < control_slots_.size(); ++i)
        same = bits(env_[control_slots_[i]]) == bits(control_env_[i]);
    if (same) {
        if (!repeat_idle_)
            repeat_idle_ = !root_.repeat_control();
        return;
    }
    repeat_idle_ = false;
    for (std::size_t i = 0; i < control_slots_.size(); ++i)
        control_env_[i] = env_[control_slots_[i]];
    control_bpm_ = tempo_;
    control_known_ = true;
    root_.control(env);
}

void Graph::process(const ParamSet& params, ChannelBuffers buffers,
                    const ProcessContext& context) noexcept {
    const std::size_t used = std::min(channels_, buffers.size());
    if (used == 0)
        return;

    tempo_ = DEFAULT_TEMPO;
    if (context.tempo) {
        const auto t = static_cast<float>(*context.tempo);
        if (std::isfinite(t) && t >= 20.0f)
            tempo_ = t;
    }

    // Every buffer should be as long as the first; a shorter one limits the block
    // rather than being read or written past its end.
    std::size_t frames = buffers[0].size();
    for (std::size_t c = 1; c < used; ++c)
        frames = std::min(frames, buffers[c].size());

    for (std::size_t done = 0; done < frames;) {
        const std::size_t len = std::min(frames - done, CONTROL_PERIOD - position_);
        if (position_ == 0)
            control_step(params);

        frame_.len = len;
        // Whole periods, the usual case, get loops of a fixed count.
        if (len == CONTROL_PERIOD) {
            // A copy of constant size is inlined.
            for (std::size_t c = 0; c < used; ++c)
                std::memcpy(frame_.row(c).data(), buffers[c].data() + done,
                            sizeof(float) * CONTROL_PERIOD);
        } else {
            for (std::size_t c = 0; c < used; ++c)
                std::copy_n(buffers[c].data() + done, len, frame_.row(c).data());
        }
        for (std::size_t c = used; c < channels_; ++c)
            std::fill_n(frame_.row(c).data(), len, 0.0f);

        root_.process(frame_, position_);

        if (len == CONTROL_PERIOD) {
            for (std::size_t c = 0; c < used; ++c)
                copy_out(frame_.row(c).data(), CONTROL_PERIOD, buffers[c].data() + done);
        } else {
            for (std::size_t c = 0; c < used; ++c)
                copy_out(frame_.row(c).data(), len, buffers[c].data() + done);
        }

        position_ = (position_ + len) % CONTROL_PERIOD;
        done += len;
    }
    root_.write_meters(params);
}

std::uint32_t Graph::latency_samples() const noexcept {
    return root_.latency();
}

std::uint32_t Graph::tail_for(const ParamSet& params) const noexcept {
    if (!has_tail_)
        return 0;
    const std::size_t count = std::min(params_, params.len());
    const auto slot_value = [&](std::size_t slot) {
        return slot < count ? params.at(slot).get() : slot < env_.size() ? env_[slot] : 0.0f;
    };
    // The answer of the last call holds while nothing it depends on has changed.
    bool same = tail_known_ && tail_rate_ == sample_rate_ && tail_bpm_ == tempo_;
    for (std::size_t i = 0; same && i < tail_slots_.size(); ++i)
        same = std::bit_cast<std::uint32_t>(slot_value(tail_slots_[i])) ==
               std::bit_cast<std::uint32_t>(tail_env_[i]);
    if (same)
        return tail_;

    std::array<float, TAIL_SCRATCH> scratch;
    std::vector<float> large;
    std::span<float> values;
    if (env_.size() <= scratch.size()) {
        std::copy(env_.begin(), env_.end(), scratch.begin());
        values = std::span<float>(scratch.data(), env_.size());
    } else {
        try {
            large.assign(env_.begin(), env_.end());
        } catch (const std::exception&) {
            // Without memory the answer uses the last control step's parameter values.
            return root_.tail(expr::Env{.slots = env_, .rate = sample_rate_, .bpm = tempo_});
        }
        values = large;
    }
    for (std::size_t i = 0; i < count; ++i)
        values[i] = params.at(i).get();
    const std::uint32_t tail =
        root_.tail(expr::Env{.slots = values, .rate = sample_rate_, .bpm = tempo_});
    for (std::size_t i = 0; i < tail_slots_.size(); ++i)
        tail_env_[i] = tail_slots_[i] < values.size() ? values[tail_slots_[i]] : 0.0f;
    tail_rate_ = sample_rate_;
    tail_bpm_ = tempo_;
    tail_ = tail;
    tail_known_ = true;
    return tail;
}

} // namespace velk::graph

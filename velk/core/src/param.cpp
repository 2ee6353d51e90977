#include "velk/core/param.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>
#include <vector>

#include "velk/core/fatal.hpp"
#include "velk/core/text.hpp"

namespace velk {
namespace {

[[noreturn]] void reject(const ParamInfo& info, std::string_view reason) {
    std::string message(info.id);
    message += ": ";
    message += reason;
    fatal(message);
}

void check(const ParamInfo& info) {
    // Written as negations so that a NaN bound or default fails the check.
    if (!(info.min < info.max))
        reject(info, "min must be below max");
    if (!(info.min <= info.default_value && info.default_value <= info.max))
        reject(info, "default outside range");
    if (info.log && !(info.min > 0.0f))
        reject(info, "a log curve needs min above zero");
    if (info.kind == Kind::Choice) {
        if (info.choices.size() < 2)
            reject(info, "a choice needs two or more names");
        if (info.min != 0.0f || info.max != static_cast<float>(info.choices.size() - 1))
            reject(info, "a choice runs from 0 to its last index");
    }
    if (info.kind == Kind::Toggle && (info.min != 0.0f || info.max != 1.0f))
        reject(info, "a toggle runs from 0 to 1");
}

const ParamInfo& checked(const ParamInfo& info) {
    check(info);
    return info;
}

std::uint32_t bits(float value) noexcept {
    return std::bit_cast<std::uint32_t>(value);
}

} // namespace

float ParamInfo::sanitise(float value) const noexcept {
    if (std::isnan(value))
        return default_value;
    value = std::clamp(value, min, max);
    if (kind == Kind::Choice || kind == Kind::Toggle)
        value = std::round(value);
    return value;
}

std::string ParamInfo::display(float value) const {
    if (format != nullptr)
        return format(value);
    switch (kind) {
    case Kind::Choice: {
        if (choices.empty())
            return {};
        const std::size_t last = choices.size() - 1;
        std::size_t index = 0;
        // Negative values and NaN select the first name; the comparison in float
        // keeps huge values from overflowing the conversion.
        if (value > 0.0f) {
            const float rounded = std::round(value);
            index = rounded >= static_cast<float>(last) ? last : static_cast<std::size_t>(rounded);
        }
        return std::string(choices[index]);
    }
    case Kind::Toggle:
        return value >= 0.5f ? "On" : "Off";
    case Kind::Number:
    case Kind::Meter:
        break;
    }
    std::string text = format_fixed(static_cast<double>(value), 2);
    if (!unit.empty()) {
        text += ' ';
        text += unit;
    }
    return text;
}

Param::Param(const ParamInfo& info, std::size_t capacity)
    : info_(checked(info)),
      cells_(info.per_channel && capacity > 1 ? capacity : 1),
      values_(std::make_unique<std::atomic<std::uint32_t>[]>(cells_)) {
    for (std::size_t i = 0; i < cells_; ++i)
        values_[i].store(bits(info_.default_value), std::memory_order_relaxed);
}

std::atomic<std::uint32_t>& Param::cell(std::size_t ch) const noexcept {
    return values_[std::min(ch, cells_ - 1)];
}

float Param::get_ch(std::size_t ch) const noexcept {
    return std::bit_cast<float>(cell(ch).load(std::memory_order_relaxed));
}

void Param::set(float value) noexcept {
    const std::uint32_t stored = bits(info_.sanitise(value));
    for (std::size_t i = 0; i < cells_; ++i)
        values_[i].store(stored, std::memory_order_relaxed);
}

void Param::set_ch(std::size_t ch, float value) noexcept {
    cell(ch).store(bits(info_.sanitise(value)), std::memory_order_relaxed);
}

struct ParamSet::Shared {
    enum : std::uint8_t { Empty, Filling, Filled };

    std::vector<Param> params;
    std::size_t max_channels = 1;
    std::atomic<std::size_t> channels{1};
    std::atomic<std::uint8_t> listener_state{Empty};
    Listener listener;
};

ParamSet::ParamSet(std::shared_ptr<Shared> shared) noexcept : shared_(std::move(shared)) {}

ParamSet ParamSet::with_channels(std::span<const ParamInfo> table, std::size_t max_channels) {
    auto shared = std::make_shared<Shared>();
    shared->max_channels = std::max<std::size_t>(max_channels, 1);
    shared->params.reserve(table.size());
    for (const ParamInfo& info : table)
        shared->params.emplace_back(info, shared->max_channels);
    for (std::size_t i = 0; i < table.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (table[i].id == table[j].id)
                fatal("duplicate parameter id " + std::string(table[i].id));
        }
    }
    return ParamSet(std::move(shared));
}

bool ParamSet::set_listener(Listener listener) const {
    std::uint8_t expected = Shared::Empty;
    if (!shared_->listener_state.compare_exchange_strong(expected, Shared::Filling,
                                                         std::memory_order_acquire))
        return false;
    shared_->listener = std::move(listener);
    shared_->listener_state.store(Shared::Filled, std::memory_order_release);
    return true;
}

void ParamSet::notify() const {
    if (shared_->listener_state.load(std::memory_order_acquire) == Shared::Filled &&
        shared_->listener)
        shared_->listener(*this);
}

std::size_t ParamSet::len() const noexcept {
    return shared_->params.size();
}

namespace {

// Kept out of line so that the check costs `at` only a comparison.
[[noreturn, gnu::noinline, gnu::cold]] void index_out_of_range(std::size_t index, std::size_t len) {
    fatal("parameter index " + std::to_string(index) + " out of range; the set has " +
          std::to_string(len));
}

} // namespace

Param& ParamSet::at(std::size_t index) const noexcept {
    std::vector<Param>& params = shared_->params;
    if (index >= params.size()) [[unlikely]]
        index_out_of_range(index, params.size());
    return params[index];
}

void ParamSet::read(std::span<float> out) const noexcept {
    const std::vector<Param>& params = shared_->params;
    const std::size_t count = std::min(params.size(), out.size());
    for (std::size_t i = 0; i < count; ++i)
        out[i] = params[i].get();
}

std::size_t ParamSet::max_channels() const noexcept {
    return shared_->max_channels;
}

std::size_t ParamSet::channels() const noexcept {
    return shared_->channels.load(std::memory_order_relaxed);
}

void ParamSet::set_channels(std::size_t n) const noexcept {
    shared_->channels.store(std::clamp<std::size_t>(n, 1, shared_->max_channels),
                            std::memory_order_relaxed);
}

} // namespace velk

#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace velk {

static_assert(std::atomic<std::uint32_t>::is_always_lock_free,
              "parameter values need lock-free 32-bit atomics");

/// What a parameter's value means.
enum class Kind : std::uint8_t {
    Number = 0, ///< A continuous value.
    Choice = 1, ///< An index into `ParamInfo::choices`.
    Toggle = 2, ///< 0 off, 1 on.
    Meter = 3,  ///< A read-only reading written by the plug-in; hosts never write it.
};

/// Custom value-to-text function of a parameter. Main thread.
using FormatFn = std::string (*)(float value);

/// The constant description of one parameter, one entry of a plug-in's constant
/// `constexpr std::array` table. Text fields view constant text; copied by value.
struct ParamInfo {
    std::string_view id = {};    ///< Unique within a table; graph descriptions use it.
    std::string_view name = {};  ///< Display name.
    std::string_view doc = {};   ///< One-sentence description.
    std::string_view unit = {};  ///< Unit label shown after the value ("dB"); empty for none.
    std::string_view group = {}; ///< Group label; empty for none.
    std::span<const std::string_view> choices =
        {};                    ///< Names of a `Choice`'s values, index 0 first.
    FormatFn format = nullptr; ///< Replaces the built-in display rules when set.
    float min = 0.0f;
    float max = 1.0f;
    float default_value = 0.0f; ///< Initial value; also stored for a NaN write.
    Kind kind = Kind::Number;
    bool log = false;         ///< Displayed on a logarithmic curve; needs `min` above zero.
    bool per_channel = false; ///< One value per audio channel.

    /// The value a write of `value` stores: NaN gives the default; anything else is
    /// clamped to [min, max], and `Choice`/`Toggle` values are then rounded to whole
    /// numbers, halves away from zero. Any thread; no allocation.
    float sanitise(float value) const noexcept;

    /// The text a host shows for `value`: `format` when set; a choice's name; "On"
    /// or "Off"; otherwise two decimals (ties to even) and a blank and the unit.
    /// Main thread: allocates.
    std::string display(float value) const;
};

/// One live parameter: a copy of its description and its value cells. Each cell is
/// a lock-free atomic word holding a float's bit pattern, read and written relaxed.
class Param {
public:
    /// Checks `info` and creates its cells (`capacity` of them for a per-channel
    /// parameter when capacity > 1, else one), each holding the default. A record
    /// that breaks its own rules stops fatally with "<id>: <reason>". Main thread.
    Param(const ParamInfo& info, std::size_t capacity);

    const ParamInfo& info() const noexcept { return info_; }
    /// Number of value cells; at least 1.
    std::size_t cells() const noexcept { return cells_; }

    // Any thread: lock-free, no allocation.

    /// The value of cell 0.
    float get() const noexcept { return get_ch(0); }
    /// The value of cell `ch`; a `ch` past the last cell reads the last cell.
    float get_ch(std::size_t ch) const noexcept;
    /// Sanitises `value` and stores it into every cell, first to last.
    void set(float value) noexcept;
    /// Sanitises `value` and stores it into cell `ch`; past the last cell writes the last.
    void set_ch(std::size_t ch, float value) noexcept;

private:
    std::atomic<std::uint32_t>& cell(std::size_t ch) const noexcept;

    ParamInfo info_;
    std::size_t cells_;
    std::unique_ptr<std::atomic<std::uint32_t>[]> values_;
};

/// A shared, reference-counted handle to a plug-in's live parameters and its current
/// channel count. Copying adds a reference (main thread only); the body goes with the
/// last handle. Every other operation may run on any thread at any time. Like a
/// pointer, a const handle still gives write access to the shared parameters.
class ParamSet {
public:
    /// Called by `notify` with the set. It must not hold a handle to the same set,
    /// which would keep the set alive forever.
    using Listener = std::function<void(const ParamSet&)>;

    /// Builds a set from a constant table with a per-channel capacity of
    /// `max_channels` (0 counts as 1). Stops fatally on a faulty record and with
    /// "duplicate parameter id <id>" on a repeated id. Main thread.
    static ParamSet with_channels(std::span<const ParamInfo> table, std::size_t max_channels);

    /// Installs the change listener. The slot can be filled once: false, and nothing
    /// changes, when it already was. Main thread.
    bool set_listener(Listener listener) const;
    /// Calls the listener, when one is installed, once with this set. Main thread.
    void notify() const;

    // Any thread: lock-free, no allocation.

    /// Number of parameters.
    std::size_t len() const noexcept;
    /// Parameter `index` in table order; an index at or past `len()` stops fatally.
    Param& at(std::size_t index) const noexcept;
    /// `out[i] = at(i).get()` for every i below the smaller of `len()` and `out.size()`,
    /// in one call.
    void read(std::span<float> out) const noexcept;
    /// The per-channel capacity; at least 1.
    std::size_t max_channels() const noexcept;
    /// The current audio channel count, 1 to `max_channels()`; starts at 1.
    std::size_t channels() const noexcept;
    /// Stores `n` clamped to [1, max_channels()].
    void set_channels(std::size_t n) const noexcept;

private:
    struct Shared;
    explicit ParamSet(std::shared_ptr<Shared> shared) noexcept;

    std::shared_ptr<Shared> shared_;
};

} // namespace velk

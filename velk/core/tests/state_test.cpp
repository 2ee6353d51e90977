#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "velk/core/param.hpp"
#include "velk/core/state.hpp"

#include <gtest/gtest.h>

namespace {

using velk::Kind;
using velk::ParamInfo;
using velk::ParamSet;
using Bytes = std::vector<std::uint8_t>;
using namespace std::string_view_literals;

// Shaped like the compressor's table: nine one-cell parameters, a toggle and a meter last.
constexpr std::array<ParamInfo, 9> NINE{{
    {.id = "threshold", .unit = "dB", .min = -60.0f, .max = 0.0f, .default_value = -18.0f},
    {.id = "ratio", .min = 1.0f, .max = 20.0f, .default_value = 4.0f},
    {.id = "knee", .unit = "dB", .min = 0.0f, .max = 24.0f, .default_value = 6.0f},
    {.id = "attack", .min = 0.1f, .max = 100.0f, .default_value = 10.0f, .log = true},
    {.id = "release", .min = 10.0f, .max = 1000.0f, .default_value = 120.0f, .log = true},
    {.id = "makeup", .min = 0.0f, .max = 24.0f, .default_value = 0.0f},
    {.id = "mix", .min = 0.0f, .max = 1.0f, .default_value = 1.0f},
    {.id = "bypass", .kind = Kind::Toggle},
    {.id = "gr", .max = 30.0f, .kind = Kind::Meter},
}};
constexpr std::size_t BYPASS = 7;
constexpr std::size_t GR = 8;

constexpr std::array<float, 9> DEFAULTS{-18.0f, 4.0f, 6.0f, 10.0f, 120.0f, 0.0f, 1.0f, 0.0f, 0.0f};

// Little-endian byte strings, written out independently of the code under test.
class Writer {
public:
    Writer& text(std::string_view s) {
        for (char c : s)
            bytes_.push_back(static_cast<std::uint8_t>(c));
        return *this;
    }
    Writer& u32(std::uint32_t w) {
        bytes_.insert(bytes_.end(), {static_cast<std::uint8_t>(w & 0xff),
                                     static_cast<std::uint8_t>((w >> 8) & 0xff),
                                     static_cast<std::uint8_t>((w >> 16) & 0xff),
                                     static_cast<std::uint8_t>(w >> 24)});
        return *this;
    }
    Writer& f32(float v) { return u32(std::bit_cast<std::uint32_t>(v)); }
    /// A one-cell record.
    Writer& record(float v) { return u32(1).f32(v); }
    Writer& header(std::uint32_t count) { return text("VELK").u32(1).u32(count); }
    Writer& records(std::initializer_list<float> values) {
        for (float v : values)
            record(v);
        return *this;
    }
    Bytes done() const { return bytes_; }

private:
    Bytes bytes_;
};

TEST(StateSave, DefaultsOfNineParametersAreEightyFourBytes) {
    const Bytes bytes = velk::state::save(ParamSet::with_channels(NINE, 64));
    ASSERT_EQ(bytes.size(), 84u);
    const Bytes start{'V', 'E', 'L', 'K', 1, 0, 0,    0,    9,    0,
                      0,   0,   1,   0,   0, 0, 0x00, 0x00, 0x90, 0xc1}; // -18.0f is 0xc1900000
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 20), start);
    Writer expected;
    expected.header(9);
    for (float v : DEFAULTS)
        expected.record(v);
    EXPECT_EQ(bytes, expected.done());
}

TEST(StateSave, PerChannelParametersWriteTheirFullCapacity) {
    constexpr std::array<ParamInfo, 2> table{{
        {.id = "gain", .min = -1.0f, .max = 1.0f},
        {.id = "trim", .min = -1.0f, .max = 1.0f, .per_channel = true},
    }};
    const ParamSet set = ParamSet::with_channels(table, 4);
    set.set_channels(2); // the channels in use do not matter
    set.at(1).set_ch(2, 0.5f);
    set.at(1).set_ch(3, -0.25f);
    const Bytes expected =
        Writer().header(2).record(0.0f).u32(4).f32(0.0f).f32(0.0f).f32(0.5f).f32(-0.25f).done();
    EXPECT_EQ(velk::state::save(set), expected);
}

class StateLoad : public ::testing::Test {
protected:
    // Distinct from the defaults, so that any change is visible.
    static constexpr std::array<float, 9> BEFORE{-30.0f, 8.0f, 3.0f, 20.0f, 200.0f,
                                                 2.0f,   0.5f, 0.0f, 5.0f};

    ParamSet set = ParamSet::with_channels(NINE, 64);
    int notified = 0;

    void SetUp() override {
        reset();
        ASSERT_TRUE(set.set_listener([this](const ParamSet&) { ++notified; }));
    }

    void reset() {
        for (std::size_t i = 0; i < BEFORE.size(); ++i)
            set.at(i).set(BEFORE[i]);
        notified = 0;
    }

    std::array<float, 9> values() const {
        std::array<float, 9> v{};
        for (std::size_t i = 0; i < v.size(); ++i)
            v[i] = set.at(i).get();
        return v;
    }
};

TEST_F(StateLoad, AcceptsOrRefusesWhole) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::initializer_list<float> saved{-6.0f, 2.0f,  12.0f, 1.0f, 500.0f,
                                             3.0f,  0.25f, 1.0f,  9.0f};
    // Every case starts from BEFORE; `changes` lists the values that differ afterwards.
    struct Case {
        const char* name;
        Bytes bytes;
        bool accepted;
        std::vector<std::pair<std::size_t, float>> changes;
    };
    const std::vector<std::pair<std::size_t, float>> restored{{0, -6.0f}, {1, 2.0f},   {2, 12.0f},
                                                              {3, 1.0f},  {4, 500.0f}, {5, 3.0f},
                                                              {6, 0.25f}, {7, 1.0f}};
    std::vector<Case> cases{
        {"nine records", Writer().header(9).records(saved).done(), true, restored},
        {"older magic", Writer().text("TOVE").u32(1).u32(9).records(saved).done(), true, restored},
        {"trailing garbage ignored",
         Writer().header(9).records(saved).text("twenty bytes of junk").done(), true, restored},
        {"tenth record ignored", Writer().header(10).records(saved).record(1.0f).done(), true,
         restored},
        {"table grew: the rest keep their values",
         Writer().header(2).records({-6, 2}).done(),
         true,
         {{0, -6.0f}, {1, 2.0f}}},
        {"no records", Writer().header(0).done(), true, {}},
        {"sanitised",
         Writer().header(8).records({12.0f, nan, -1.0f, 1.0f, 1.0f, 0.0f, 1.0f, 0.7f}).done(),
         true,
         {{0, 0.0f}, {1, 4.0f}, {2, 0.0f}, {3, 1.0f}, {4, 10.0f}, {5, 0.0f}, {6, 1.0f}, {7, 1.0f}}},
        {"extra cells ignored",
         Writer().header(1).u32(3).f32(-1.0f).f32(-2.0f).f32(-3.0f).done(),
         true,
         {{0, -1.0f}}},
        {"empty record keeps the value",
         Writer().header(2).u32(0).record(2.0f).done(),
         true,
         {{1, 2.0f}}},
        {"empty", Bytes{}, false, {}},
        {"three bytes", Bytes{'V', 'E', 'L'}, false, {}},
        {"eleven bytes", Writer().text("VELK").u32(1).text("abc").done(), false, {}},
        {"other magic", Writer().text("VELX").u32(1).u32(0).done(), false, {}},
        {"lower-case magic", Writer().text("velk").u32(1).u32(0).done(), false, {}},
        {"version 0", Writer().text("VELK").u32(0).u32(0).done(), false, {}},
        {"version 2", Writer().text("VELK").u32(2).u32(0).done(), false, {}},
        {"eight of nine records",
         Writer().header(9).records({-6, 2, 12, 1, 500, 3, 0.25f, 0}).done(),
         false,
         {}},
        {"cell count cut short", Writer().header(2).record(-6.0f).text("\1\0"sv).done(), false, {}},
        {"value cut short", Writer().header(1).u32(1).text("\0\0\x80"sv).done(), false, {}},
        {"cell count past the end", Writer().header(1).u32(2).f32(-6.0f).done(), false, {}},
        {"cell count that wraps", Writer().header(1).u32(0x40000001).f32(-6.0f).done(), false, {}},
        {"huge record count", Writer().header(0xffffffff).records(saved).done(), false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        EXPECT_EQ(velk::state::load(set, c.bytes), c.accepted);
        EXPECT_EQ(notified, c.accepted ? 1 : 0);
        std::array<float, 9> expected = BEFORE;
        for (const auto& [index, value] : c.changes)
            expected[index] = value;
        EXPECT_EQ(values(), expected);
    }
}

TEST_F(StateLoad, RoundTripRestoresEverythingButTheMeter) {
    set.at(0).set(-42.0f);
    set.at(BYPASS).set(1.0f);
    set.at(GR).set(12.0f);
    const Bytes saved = velk::state::save(set);

    for (std::size_t i = 0; i < NINE.size(); ++i)
        set.at(i).set(DEFAULTS[i]);
    set.at(GR).set(3.0f);
    ASSERT_TRUE(velk::state::load(set, saved));

    std::array<float, 9> expected = BEFORE;
    expected[0] = -42.0f;
    expected[BYPASS] = 1.0f;
    expected[GR] = 3.0f;
    EXPECT_EQ(values(), expected);
}

TEST(StateLoadChannels, CellsFollowTheCapacityOfTheLoadingSet) {
    constexpr std::array<ParamInfo, 1> table{{{.id = "trim", .max = 4.0f, .per_channel = true}}};
    const ParamSet wide = ParamSet::with_channels(table, 4);
    for (std::size_t ch = 0; ch < 4; ++ch)
        wide.at(0).set_ch(ch, static_cast<float>(ch + 1));
    const ParamSet narrow = ParamSet::with_channels(table, 1);

    // Four cells into one: only cell 0 lands.
    ASSERT_TRUE(velk::state::load(narrow, velk::state::save(wide)));
    EXPECT_EQ(narrow.at(0).get(), 1.0f);

    // One cell into four: the other cells keep their values.
    narrow.at(0).set(0.5f);
    ASSERT_TRUE(velk::state::load(wide, velk::state::save(narrow)));
    EXPECT_EQ(wide.at(0).get_ch(0), 0.5f);
    EXPECT_EQ(wide.at(0).get_ch(1), 2.0f);
    EXPECT_EQ(wide.at(0).get_ch(3), 4.0f);
}

// Saves, loads and writes from three threads at once. Every value the writer or a
// loaded state stores is one of `values`, so every saved value must be one of them
// or a default, each read whole.
TEST(StateConcurrency, SaveAndLoadRaceWithWrites) {
    constexpr std::array<ParamInfo, 3> table{{
        {.id = "a", .min = -100.0f, .max = 100.0f},
        {.id = "b", .min = -100.0f, .max = 100.0f, .per_channel = true},
        {.id = "m", .min = -100.0f, .max = 100.0f, .kind = Kind::Meter},
    }};
    const ParamSet set = ParamSet::with_channels(table, 4);
    std::vector<float> values;
    for (int k = 0; k < 101; ++k)
        values.push_back(static_cast<float>(k) * 1.9371f - 97.0f);
    std::vector<std::uint32_t> allowed{std::bit_cast<std::uint32_t>(0.0f)};
    for (float v : values)
        allowed.push_back(std::bit_cast<std::uint32_t>(v));
    std::sort(allowed.begin(), allowed.end());

    std::vector<Bytes> states;
    for (std::size_t s = 0; s < 8; ++s) {
        Writer w;
        w.header(3).record(values[s]).u32(4);
        for (std::size_t ch = 0; ch < 4; ++ch)
            w.f32(values[s * 4 + ch + 10]);
        states.push_back(w.record(values[s + 50]).done());
    }
    std::atomic<int> notified{0};
    ASSERT_TRUE(set.set_listener([&](const ParamSet&) { notified.fetch_add(1); }));

    // The threads run until each of them has done its share, so they overlap.
    constexpr std::size_t rounds = 2000;
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> writes{0};
    std::atomic<std::size_t> loads{0};
    std::thread writer([&] {
        for (std::size_t i = 0; !stop.load(); ++i) {
            set.at(0).set(values[i % values.size()]);
            set.at(1).set_ch(i % 4, values[(i * 3) % values.size()]);
            set.at(2).set(values[(i * 5) % values.size()]); // as the audio thread writes a meter
            writes.fetch_add(1);
        }
    });
    std::thread loader([&] {
        for (std::size_t i = 0; !stop.load(); ++i) {
            if (velk::state::load(set, states[i % states.size()]))
                loads.fetch_add(1);
        }
    });
    std::size_t bad = 0;
    std::size_t saves = 0;
    while (saves < rounds || writes.load() < rounds || loads.load() < rounds) {
        const Bytes bytes = velk::state::save(set);
        if (bytes.size() != 12u + 3 * 4 + 6 * 4) {
            ++bad;
            break;
        }
        for (std::size_t at : {16u, 24u, 28u, 32u, 36u, 44u}) {
            const std::uint32_t word = static_cast<std::uint32_t>(bytes[at]) |
                                       static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
                                       static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
                                       static_cast<std::uint32_t>(bytes[at + 3]) << 24;
            bad += std::binary_search(allowed.begin(), allowed.end(), word) ? 0u : 1u;
        }
        ++saves;
    }
    stop.store(true);
    writer.join();
    loader.join();
    EXPECT_EQ(bad, 0u) << "in " << saves << " saves";
    EXPECT_EQ(static_cast<std::size_t>(notified.load()), loads.load());
}

} // namespace

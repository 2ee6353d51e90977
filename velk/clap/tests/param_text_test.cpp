#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "param_text.hpp"
#include "unicode.hpp"
#include "velk/core/param.hpp"
#include "velk/test/test_plugin.hpp"

#include <gtest/gtest.h>

namespace {

using velk::Kind;
using velk::ParamInfo;
using velk::clap::text_to_value;

constexpr ParamInfo THRESHOLD{.id = "threshold", .unit = "dB", .min = -60.0f, .max = 0.0f};
constexpr ParamInfo BYPASS{.id = "bypass", .kind = Kind::Toggle};
constexpr ParamInfo MODE = velk::test::TEST_PARAMS[velk::test::TestPlugin::MODE];
constexpr std::array<std::string_view, 2> SEASONS{"\xC3\x89t\xC3\xA9", "Hiver"}; // "Été"
constexpr ParamInfo SEASON{
    .id = "season", .choices = SEASONS, .min = 0.0f, .max = 1.0f, .kind = Kind::Choice};
constexpr ParamInfo METER{.id = "gr", .unit = "dB", .max = 30.0f, .kind = Kind::Meter};

struct Case {
    const char* name;
    const ParamInfo* info;
    std::string_view text;
    std::optional<double> expected; // nothing: refused
};

TEST(ParamText, TextToValueByKind) {
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"number with blank and unit", &THRESHOLD, " -6 dB ", -6.0},
        {"unit glued on", &THRESHOLD, "-6dB", -6.0},
        {"two decimals", &THRESHOLD, "-18.00 dB", -18.0},
        {"bare number", &THRESHOLD, "-18", -18.0},
        {"percent", &THRESHOLD, "50%", 50.0},
        {"millisecond unit", &THRESHOLD, "120 ms", 120.0},
        {"only the first word counts", &THRESHOLD, "12 34", 12.0},
        {"leading plus and point", &THRESHOLD, "+.5", 0.5},
        {"exponent survives", &THRESHOLD, "1e3", 1000.0},
        {"not clamped", &THRESHOLD, "12 dB", 12.0},
        {"no-break space and em space trimmed", &THRESHOLD,
         "\xE3\x80\x80-6\xC2\xA0"
         "dB\xE2\x80\x83",
         -6.0},
        {"micro sign is a letter", &THRESHOLD, "-6\xC2\xB5s", -6.0},
        {"greek omega is a letter", &THRESHOLD, "4.7\xCE\xA9", 4.7},
        {"meter reads like a number", &METER, "9.00 dB", 9.0},
        {"unit alone", &THRESHOLD, "dB", std::nullopt},
        {"empty", &THRESHOLD, "", std::nullopt},
        {"white space only", &THRESHOLD, " \t\n", std::nullopt},
        {"degree sign is no letter", &THRESHOLD, "5\xC2\xB0", std::nullopt},
        {"inf loses its letters", &THRESHOLD, "inf", std::nullopt},
        {"decimal comma", &THRESHOLD, "1,5", std::nullopt},
        {"invalid UTF-8", &THRESHOLD, "-6 dB\xFF", std::nullopt},
        {"overlong encoding", &THRESHOLD, "\xC0\xA0-6", std::nullopt},
        {"toggle ON", &BYPASS, "ON", 1.0},
        {"toggle True trimmed", &BYPASS, " True ", 1.0},
        {"toggle 1", &BYPASS, "1", 1.0},
        {"toggle false", &BYPASS, "false", 0.0},
        {"toggle Off", &BYPASS, "Off", 0.0},
        {"toggle 0", &BYPASS, "0", 0.0},
        {"toggle yes", &BYPASS, "yes", std::nullopt},
        {"toggle fraction", &BYPASS, "0.7", std::nullopt},
        {"choice in another case", &MODE, "inverted", 1.0},
        {"choice upper case", &MODE, "MUTED", 2.0},
        {"choice trimmed", &MODE, " Normal ", 0.0},
        {"choice index", &MODE, "2", 2.0},
        {"choice index not clamped", &MODE, "7", 7.0},
        {"choice infinity", &MODE, "-INFINITY", -inf},
        {"choice inf", &MODE, "Inf", inf},
        {"choice with a unit", &MODE, "Inverted dB", std::nullopt},
        {"choice ASCII case only: T matches t", &SEASON, "\xC3\x89T\xC3\xA9", 0.0},
        {"choice ASCII case only: e-acute differs", &SEASON, "\xC3\xA9t\xC3\xA9", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<double> got = text_to_value(*c.info, c.text);
        ASSERT_EQ(got.has_value(), c.expected.has_value());
        if (got) {
            EXPECT_EQ(*got, *c.expected);
        }
    }
    const std::optional<double> nan = text_to_value(MODE, "NaN");
    ASSERT_TRUE(nan.has_value());
    EXPECT_TRUE(std::isnan(*nan));
}

TEST(ParamText, CopiesWholeCharactersOnly) {
    struct Copy {
        std::string_view text;
        std::size_t capacity;
        std::string expected;
    };
    const Copy cases[] = {
        {"-18.00 dB", 4, "-18"},
        {"-18.00 dB", 10, "-18.00 dB"},
        {"-18.00 dB", 100, "-18.00 dB"},
        {"-18.00 dB", 1, ""},
        {"h\xC3\xA9llo", 3, "h"},         // é would need bytes 2 and 3
        {"h\xC3\xA9llo", 4, "h\xC3\xA9"}, // fits exactly
        {"\xF0\x9F\x8E\x9A!", 4, ""},     // a four-byte character and "!"
        {"\xF0\x9F\x8E\x9A!", 5, "\xF0\x9F\x8E\x9A"},
    };
    for (const Copy& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " in " + std::to_string(c.capacity));
        std::array<char, 128> out;
        out.fill('#');
        velk::clap::copy_text(c.text, out.data(), c.capacity);
        EXPECT_EQ(std::string(out.data()), c.expected);
        EXPECT_EQ(out[c.capacity], '#') << "wrote past the capacity";
    }
    std::array<char, 4> untouched{'#', '#', '#', '#'};
    velk::clap::copy_text("abc", untouched.data(), 0);
    EXPECT_EQ(untouched[0], '#');
}

TEST(Unicode, DecodesStrictlyAndKnowsItsProperties) {
    using namespace velk::clap::unicode;
    EXPECT_TRUE(valid("plain \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\x9A"));
    for (std::string_view bad :
         {"\x80", "\xC3", "\xE2\x82", "\xED\xA0\x80" /* surrogate */,
          "\xF4\x90\x80\x80" /* above U+10FFFF */, "\xE0\x80\xAF", "\xF8\x88\x80\x80\x80"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(bad)));
        EXPECT_FALSE(valid(bad));
    }
    for (char32_t space : {U'\t', U'\r', U' ', U'\u0085', U'\u00A0', U'\u1680', U'\u2000',
                           U'\u200A', U'\u2028', U'\u202F', U'\u3000'})
        EXPECT_TRUE(is_white_space(space)) << static_cast<unsigned>(space);
    for (char32_t other : {U'a', U'0', U'\u200B' /* zero width space */, U'\uFEFF'})
        EXPECT_FALSE(is_white_space(other)) << static_cast<unsigned>(other);
    for (char32_t letter : {U'A', U'z', U'\u00B5', U'\u00E9', U'\u03A9', U'\u0416', U'\u05D0',
                            U'\u0915', U'\u4E2D', U'\u2160' /* roman numeral one */, U'\U00010400'})
        EXPECT_TRUE(is_alphabetic(letter)) << static_cast<unsigned>(letter);
    for (char32_t other : {U'0', U'%', U'.', U'\u00B0', U'\u0660' /* arabic-indic zero */,
                           U'\u2103' /* degree celsius */, U'\U0001F39A', U'\U0010FFFF'})
        EXPECT_FALSE(is_alphabetic(other)) << static_cast<unsigned>(other);
}

} // namespace

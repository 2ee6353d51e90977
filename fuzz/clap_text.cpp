// Parameter texts through halvex.clap's parameters extension, and the adapter's
// text reader on a choice parameter (the compressor has none). The first byte picks
// a parameter id (every listed one and some that are not), the second a display
// size for writing the value back; the rest, up to a NUL byte, is the host's text.
// An unlisted id, or a text that is not UTF-8, is refused. A toggle reads as 0 or
// 1, a number or meter never as NaN, a choice as a name's index or as a number.
// A finite accepted value shown as text and read back gives the value to within
// the two decimals shown; the shown text always ends in a NUL inside the buffer and
// is a whole-character prefix of the full text.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "param_text.hpp"
#include "support/bytes.hpp"
#include "support/check.hpp"
#include "support/clap_host.hpp"
#include "unicode.hpp"
#include "velk/core/param.hpp"

namespace {

using velk::fuzz::ClapHost;
using velk::fuzz::Halvex;

constexpr clap_id IDS[] = {0,   128,  256, 384, 512, 640,  768,
                           896, 1024, 1,   127, 129, 1152, 0xFFFFFFFFu};
constexpr std::size_t LISTED = 9;
constexpr clap_id BYPASS = 7 * 128;

constexpr std::string_view CHOICES[] = {"Low", "Mid", "Größe", "hi fi"};
constexpr velk::ParamInfo CHOICE{
    .id = "shape", .choices = CHOICES, .max = 3.0f, .kind = velk::Kind::Choice};

struct Fixture {
    ClapHost host;
    Halvex halvex{host};
};

bool same(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

double narrowed(double v) {
    return static_cast<double>(static_cast<float>(v));
}

void check_shown(const Halvex& h, clap_id id, double value, std::uint32_t size) {
    std::string full(256, '\x7f');
    VELK_FUZZ_CHECK(h.params().value_to_text(h.get(), id, value, full.data(), 256));
    full.resize(std::strlen(full.c_str()));

    // Written into exactly `size` bytes, so that the sanitizer sees any byte past them.
    // A size of 0 writes nothing, not even the NUL.
    char guard = '\x7f';
    std::vector<char> shown(size, '\x7f');
    VELK_FUZZ_CHECK(
        h.params().value_to_text(h.get(), id, value, size ? shown.data() : &guard, size));
    if (size == 0) {
        VELK_FUZZ_CHECK(guard == '\x7f');
        return;
    }
    const std::size_t length = std::strlen(shown.data());
    VELK_FUZZ_CHECK(length < size);
    const std::string_view part(shown.data(), length);
    VELK_FUZZ_CHECK(std::string_view(full).starts_with(part));
    VELK_FUZZ_CHECK(velk::clap::unicode::valid(part));
    VELK_FUZZ_CHECK(length == full.size() || full.size() >= size - 1);
}

void check_round_trip(const Halvex& h, clap_id id, double value) {
    if (!std::isfinite(narrowed(value)))
        return;
    char text[256];
    VELK_FUZZ_CHECK(h.params().value_to_text(h.get(), id, value, text, sizeof text));
    double back = 0.0;
    VELK_FUZZ_CHECK(h.params().text_to_value(h.get(), id, text, &back));
    if (id == BYPASS)
        VELK_FUZZ_CHECK(back == (narrowed(value) >= 0.5 ? 1.0 : 0.0));
    else
        VELK_FUZZ_CHECK(std::fabs(back - narrowed(value)) <= 0.005 * (1 + 1e-9));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fixture;
    const Halvex& h = fixture.halvex;
    velk::fuzz::Bytes in({data, size});
    const std::uint8_t pick = in.u8();
    const clap_id id = IDS[pick % std::size(IDS)];
    const std::uint32_t shown_size = in.u8();
    const std::span<const std::uint8_t> rest = in.take(size);
    // The host hands a C string: everything up to the first NUL.
    const std::string text(reinterpret_cast<const char*>(rest.data()),
                           std::strlen(std::string(rest.begin(), rest.end()).c_str()));

    double value = -12345.0;
    const bool accepted = h.params().text_to_value(h.get(), id, text.c_str(), &value);
    if (pick % std::size(IDS) >= LISTED || !velk::clap::unicode::valid(text))
        VELK_FUZZ_CHECK(!accepted);
    if (accepted) {
        if (id == BYPASS)
            VELK_FUZZ_CHECK(value == 0.0 || value == 1.0);
        else
            VELK_FUZZ_CHECK(!std::isnan(value));
        check_round_trip(h, id, value);
        check_shown(h, id, value, shown_size);
    } else {
        VELK_FUZZ_CHECK(value == -12345.0);
    }
    // Hosts show values the plug-in never stored, too.
    if (pick % std::size(IDS) < LISTED)
        check_shown(h, id, static_cast<double>(in.f32()), shown_size);

    // White space around a text changes nothing.
    double spaced = -12345.0;
    const std::string padded = "\u3000 " + text + "\t\n";
    VELK_FUZZ_CHECK(h.params().text_to_value(h.get(), id, padded.c_str(), &spaced) == accepted);
    VELK_FUZZ_CHECK(same(spaced, value));

    const std::optional<double> choice = velk::clap::text_to_value(CHOICE, text);
    if (!velk::clap::unicode::valid(text))
        VELK_FUZZ_CHECK(!choice);
    for (std::size_t i = 0; i < std::size(CHOICES); ++i)
        if (text == CHOICES[i])
            VELK_FUZZ_CHECK(choice && *choice == static_cast<double>(i));
    const std::optional<double> choice_spaced = velk::clap::text_to_value(CHOICE, padded);
    VELK_FUZZ_CHECK(choice.has_value() == choice_spaced.has_value());
    if (choice)
        VELK_FUZZ_CHECK(same(*choice, *choice_spaced));
    return 0;
}

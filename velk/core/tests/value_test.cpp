#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "velk/core/value.hpp"

#include <gtest/gtest.h>

namespace {

using velk::Json;
using velk::value::parse;

// A compact, unambiguous rendering of a tree: numbers in shortest form ("-0" and
// "inf" kept apart), string bytes outside printable ASCII as \xNN.
std::string render(const Json& j) {
    switch (j.kind()) {
    case Json::Kind::Null:
        return "null";
    case Json::Kind::Boolean:
        return j.as_bool() ? "true" : "false";
    case Json::Kind::Number: {
        char buf[32];
        const auto r = std::to_chars(buf, buf + sizeof buf, j.as_number());
        return std::string(buf, r.ptr);
    }
    case Json::Kind::String: {
        std::string out = "\"";
        for (const char c : j.as_string()) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 0x20 || b >= 0x7F || c == '"' || c == '\\') {
                const char* hex = "0123456789ABCDEF";
                out += "\\x";
                out += hex[b >> 4];
                out += hex[b & 0xF];
            } else {
                out += c;
            }
        }
        return out + "\"";
    }
    case Json::Kind::Array: {
        std::string out = "[";
        for (const Json& e : j.as_array())
            out += (out.size() > 1 ? "," : "") + render(e);
        return out + "]";
    }
    case Json::Kind::Object: {
        std::string out = "{";
        for (const Json::Member& m : j.as_object())
            out +=
                (out.size() > 1 ? "," : "") + render(Json::string(m.key)) + ":" + render(m.value);
        return out + "}";
    }
    }
    return "?";
}

std::string parse_error(std::string_view text) {
    const velk::Result<Json> r = parse(text);
    return r ? "parsed: " + render(r.value()) : r.error();
}

std::string nested(int levels, std::string_view inner) {
    return std::string(static_cast<std::size_t>(levels), '[') + std::string(inner) +
           std::string(static_cast<std::size_t>(levels), ']');
}

struct Case {
    std::string_view input;
    std::string_view expected;
};

TEST(JsonParse, ReadsValues) {
    const Case cases[] = {
        {" 1 ", "1"},
        {"\t\r\n null \n", "null"},
        {"true", "true"},
        {"false", "false"},
        {"[]", "[]"},
        {"{}", "{}"},
        {"[ ]", "[]"},
        {"{ }", "{}"},
        {"[1, [true, null], {\"k\": \"v\"}, \"\"]", "[1,[true,null],{\"k\":\"v\"},\"\"]"},
        {"{\"b\":1,\"a\":{\"c\":[]}}", "{\"b\":1,\"a\":{\"c\":[]}}"},
        {"[1\r,\t2 ,\n3]", "[1,2,3]"},
        // Numbers: the lenient forms, overflow, underflow and correct rounding.
        {"+5", "5"},
        {".5", "0.5"},
        {"5.", "5"},
        {"007", "7"},
        {"1E+3", "1000"},
        {"-2.5e-1", "-0.25"},
        {"-0", "-0"},
        {"1e999", "inf"},
        {"-1e999", "-inf"},
        {"1e-999", "0"},
        {"0.1", "0.1"},
        {"9007199254740993", "9007199254740992"},
        {"[-0.0,1e-320]", "[-0,1e-320]"},
        // Escapes.
        {R"("\"\\\/\b\f\n\r\t")", R"("\x22\x5C/\x08\x0C\x0A\x0D\x09")"},
        {R"("\u00e9\u00C9")", R"("\xC3\xA9\xC3\x89")"},
        {R"("\u0041\u20AC")", R"("A\xE2\x82\xAC")"},
        {R"("a\u0000b")", R"("a\x00b")"},
        {R"("\ud83d\ude00")", R"("\xF0\x9F\x98\x80")"},
        {R"("\uDBFF\uDFFF")", R"("\xF4\x8F\xBF\xBF")"},
        {R"("\u+041")", R"("A")"},
        // Surrogates that do not pair become U+FFFD; nothing after them is lost.
        {R"("\ud83d")", R"("\xEF\xBF\xBD")"},
        {R"("\ude00")", R"("\xEF\xBF\xBD")"},
        {R"("\ud83dx")", R"("\xEF\xBF\xBDx")"},
        {R"("\ud83d\u0041")", R"("\xEF\xBF\xBDA")"},
        {R"("\ud83d\ud83d\ude00")", R"("\xEF\xBF\xBD\xF0\x9F\x98\x80")"},
        {R"("\ude00\ud83d")", R"("\xEF\xBF\xBD\xEF\xBF\xBD")"},
        {R"("\ud83d\n")", R"("\xEF\xBF\xBD\x0A")"},
        // Raw bytes, control bytes and line breaks included, are kept.
        {"\"a\tb\nc\x01\"", R"("a\x09b\x0Ac\x01")"},
        {"\"\xC3\xA9\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\"",
         R"("\xC3\xA9\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF")"},
        {"\"\xEF\xBF\xBF\xED\x9F\xBF\xEE\x80\x80\"", R"("\xEF\xBF\xBF\xED\x9F\xBF\xEE\x80\x80")"},
        // Escapes joined with raw bytes still form valid UTF-8.
        {"\"\\u00e9\xC3\xA9\"", R"("\xC3\xA9\xC3\xA9")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const velk::Result<Json> r = parse(c.input);
        ASSERT_TRUE(r.ok()) << r.error();
        EXPECT_EQ(render(r.value()), c.expected);
    }
}

TEST(JsonParse, ReportsEveryErrorWithItsPosition) {
    using namespace std::string_view_literals;
    const Case cases[] = {
        {"", "unexpected end of input at byte 0"},
        {"  ", "unexpected end of input at byte 2"},
        {"[", "unexpected end of input at byte 1"},
        {"[1, ", "unexpected end of input at byte 4"},
        {"{\"a\": ", "unexpected end of input at byte 6"},

        {"1 2", "unexpected text after the value at byte 2"},
        {"truex", "unexpected text after the value at byte 4"},
        {"[] ]", "unexpected text after the value at byte 3"},
        {"1\f", "unexpected text after the value at byte 1"},
        {"\"a\"\"b\"", "unexpected text after the value at byte 3"},

        {"nul", "unexpected word at byte 0"},
        {"nulL", "unexpected word at byte 0"},
        {"[tru]", "unexpected word at byte 1"},
        {"  fals", "unexpected word at byte 2"},
        {"{\"a\":trUe}", "unexpected word at byte 5"},

        {"NaN", "expected a value at byte 0"},
        {"Infinity", "expected a value at byte 0"},
        {"-Infinity", "expected a value at byte 0"},
        {"[,1]", "expected a value at byte 1"},
        {"[1,]", "expected a value at byte 3"},
        {"[1, 1e]", "expected a value at byte 4"},
        {".", "expected a value at byte 0"},
        {"-", "expected a value at byte 0"},
        {"1.2.3", "expected a value at byte 0"},
        {"--1", "expected a value at byte 0"},
        {" 1-2", "expected a value at byte 1"},
        {"]", "expected a value at byte 0"},
        {"\f1", "expected a value at byte 0"},
        {"/* c */ 1", "expected a value at byte 0"},
        {"\xC3\xA9", "expected a value at byte 0"},
        {"{\"a\":}", "expected a value at byte 5"},
        {"\0"sv, "expected a value at byte 0"},

        {"[1 2]", "expected a comma or ] at byte 3"},
        {"[1", "expected a comma or ] at byte 2"},
        {"[0x10]", "expected a comma or ] at byte 2"},
        {"[truex]", "expected a comma or ] at byte 5"},
        {"[1}", "expected a comma or ] at byte 2"},

        {"{", "expected a string key at byte 1"},
        {"{1:2}", "expected a string key at byte 1"},
        {"{\"a\":1,}", "expected a string key at byte 7"},
        {"{\"a\":1, ", "expected a string key at byte 8"},
        {"{'a':1}", "expected a string key at byte 1"},

        {"{\"a\" 1}", "expected a colon at byte 5"},
        {"{\"a\"", "expected a colon at byte 4"},
        {"{\"a\"=1}", "expected a colon at byte 4"},

        {"{\"a\":1", "expected a comma or } at byte 6"},
        {"{\"a\":1 \"b\":2}", "expected a comma or } at byte 7"},
        {"{\"a\":nullx}", "expected a comma or } at byte 9"},
        {"{\"a\":1]", "expected a comma or } at byte 6"},

        {"\"abc", "unterminated string at byte 4"},
        {"\"", "unterminated string at byte 1"},
        {"[\"a]", "unterminated string at byte 4"},
        {"\"\xC3", "unterminated string at byte 2"},
        {"{\"a", "unterminated string at byte 3"},

        {"\"\\", "unterminated escape at byte 2"},
        {R"("\ud83d\)", "unterminated escape at byte 8"},

        {R"("\x")", "unknown escape at byte 3"},
        {R"("\U0041")", "unknown escape at byte 3"},
        {R"("ab\')", "unknown escape at byte 5"},

        {R"("\u12")", "short \\u escape at byte 3"},
        {R"("\u)", "short \\u escape at byte 3"},
        {R"("\ud83d\u12")", "short \\u escape at byte 9"},

        {R"("\u12zz")", "bad \\u escape at byte 3"},
        {R"("\u1+23")", "bad \\u escape at byte 3"},
        {R"("\u-123")", "bad \\u escape at byte 3"},
        {R"("\u 123")", "bad \\u escape at byte 3"},
        {R"("\ud83d\uzzzz")", "bad \\u escape at byte 9"},
        {R"({"\u00g0":1})", "bad \\u escape at byte 4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(parse_error(c.input), c.expected);
    }
}

TEST(JsonParse, RefusesStringsThatAreNotUtf8) {
    const std::string_view bodies[] = {
        "\x80",             // stray continuation byte
        "a\xBF",            // stray continuation byte after ASCII
        "\xC0\xAF",         // overlong '/'
        "\xC1\xBF",         // overlong two-byte form
        "\xE0\x80\xAF",     // overlong three-byte form
        "\xE0\x9F\xBF",     // overlong, just below U+0800
        "\xF0\x82\x82\xAC", // overlong four-byte form
        "\xF0\x8F\xBF\xBF", // overlong, just below U+10000
        "\xED\xA0\x80",     // U+D800 encoded
        "\xED\xBF\xBF",     // U+DFFF encoded
        "\xF4\x90\x80\x80", // U+110000
        "\xF5\x80\x80\x80", // lead byte past U+10FFFF
        "\xFF",             // never a UTF-8 byte
        "\xC3",             // truncated two-byte
        "\xE2\x82",         // truncated three-byte
        "\xF0\x9F\x98",     // truncated four-byte
        "\xC3\x28",         // bad continuation
        "\xE2\x28\xA1",     // bad second byte
        "\xF0\x9F\x28\x80", // bad third byte
        "\xE2\\u0082",      // a raw lead byte does not combine with an escape
    };
    for (const std::string_view body : bodies) {
        const std::string text = "\"" + std::string(body) + "\"";
        SCOPED_TRACE(text);
        EXPECT_EQ(parse_error(text), "the string is not valid UTF-8");
        // Keys are checked the same way.
        EXPECT_EQ(parse_error("{" + text + ":1}"), "the string is not valid UTF-8");
    }
}

TEST(JsonParse, LimitsNestingTo64Levels) {
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {nested(64, "1"), "parsed: " + nested(64, "1")},
        {nested(65, "1"), "nesting is too deep at byte 65"},
        {nested(65, ""), "parsed: " + nested(65, "")},
        {nested(66, ""), "nesting is too deep at byte 65"},
        {nested(64, "{}"), "parsed: " + nested(64, "{}")},
        {nested(64, "{\"a\":1}"), "nesting is too deep at byte 69"},
        // Whitespace before the value does not move the reported position off it.
        {nested(64, " [ ] "), "parsed: " + nested(65, "")},
        {nested(65, " [ ] "), "nesting is too deep at byte 66"},
        // The limit holds long before the text would end.
        {std::string(100000, '['), "nesting is too deep at byte 65"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 80));
        EXPECT_EQ(parse_error(c.text), c.expected);
    }

    std::string objects;
    for (int i = 0; i < 64; ++i)
        objects += "{\"k\":";
    std::string closing(64, '}');
    EXPECT_TRUE(parse(objects + "null" + closing).ok());
    EXPECT_EQ(parse_error(objects + "{\"k\":null}" + closing),
              "nesting is too deep at byte " + std::to_string(objects.size() + 5));
    std::string deep_objects;
    for (int i = 0; i < 100000; ++i)
        deep_objects += "{\"k\":";
    EXPECT_EQ(parse_error(deep_objects), "nesting is too deep at byte 325");
}

TEST(JsonParse, ObjectsKeepDuplicateKeysInOrder) {
    const velk::Result<Json> r = parse(R"({"a":1,"b":true,"a":2,"a\u0000":3})");
    ASSERT_TRUE(r.ok()) << r.error();
    const Json& j = r.value();
    ASSERT_EQ(j.as_object().size(), 4u);
    EXPECT_EQ(j.as_object()[0].key, "a");
    EXPECT_EQ(j.as_object()[2].key, "a");
    EXPECT_EQ(j.as_object()[2].value.as_number(), 2.0);
    ASSERT_NE(j.get("a"), nullptr);
    EXPECT_EQ(j.get("a")->as_number(), 1.0);
    // Keys compare byte for byte, so an embedded NUL is part of the key.
    using namespace std::string_view_literals;
    ASSERT_NE(j.get("a\0"sv), nullptr);
    EXPECT_EQ(j.get("a\0"sv)->as_number(), 3.0);
    EXPECT_EQ(j.get("A"), nullptr);
    EXPECT_EQ(j.get(""), nullptr);

    // get answers nothing on values that are not objects.
    for (const char* text : {"[\"a\"]", "\"a\"", "null", "1"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parse(text)->get("a"), nullptr);
    }
}

TEST(JsonParse, MakersBuildTheSameTreeAsTheReader) {
    Json::Object members;
    members.push_back({"x", Json::number(-0.5)});
    members.push_back({"list", Json::array({Json(), Json::boolean(false), Json::string("é")})});
    const Json made = Json::object(std::move(members));
    EXPECT_EQ(render(made), render(parse(R"({"x":-.5,"list":[null,false,"\u00e9"]})").value()));
    EXPECT_EQ(made.get("list")->kind(), Json::Kind::Array);
    EXPECT_TRUE(Json().is_null());
    EXPECT_FALSE(Json().is_object());
}

TEST(JsonParse, HandlesLargeAndDeepTrees) {
    // A long flat array, a long string and a full-depth tree with many leaves are
    // all built and freed without trouble.
    constexpr std::size_t count = 200000;
    std::string flat = "[";
    for (std::size_t i = 0; i < count; ++i)
        flat += i ? ",[]" : "[]";
    flat += "]";
    {
        const velk::Result<Json> r = parse(flat);
        ASSERT_TRUE(r.ok()) << r.error();
        EXPECT_EQ(r->as_array().size(), count);
    }
    // The same array broken at its very end leaves nothing behind.
    flat.back() = ',';
    EXPECT_EQ(parse_error(flat), "unexpected end of input at byte " + std::to_string(flat.size()));

    const std::string long_text(1 << 20, 'x');
    const velk::Result<Json> s = parse("\"" + long_text + "\"");
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(s->as_string(), long_text);

    std::string wide = "[";
    for (int i = 0; i < 1000; ++i)
        wide += (i ? "," : "") + nested(62, "{\"a\":[1,2,3],\"b\":\"x\"}");
    wide += "]";
    // The numbers of the first element lie one level too deep.
    EXPECT_EQ(parse_error(wide), "nesting is too deep at byte 69");
    wide = "[";
    for (int i = 0; i < 1000; ++i)
        wide += (i ? "," : "") + nested(61, "{\"a\":[1,2,3],\"b\":\"x\"}");
    wide += "]";
    velk::Result<Json> w = parse(wide);
    ASSERT_TRUE(w.ok()) << w.error();
    Json moved = std::move(w.value());
    EXPECT_EQ(moved.as_array().size(), 1000u);
}

// Odd inputs: every prefix of a valid document, single-byte corruptions of it and
// seeded random byte soup. None may crash, and every failure reports a position
// inside the text (or is the UTF-8 message, which has none).
TEST(JsonParse, SurvivesOddInputs) {
    const std::string doc = "{\"graph\": {\"chain\": [{\"block\": \"gain\", \"gain_db\": -6.5e0},"
                            " [true, false, null, \"\\ud83d\\ude00\\n\\u00e9\"]]}, \"x\": .5}";
    ASSERT_TRUE(parse(doc).ok());

    auto check = [](const std::string& text) {
        const velk::Result<Json> r = parse(text);
        if (r.ok())
            return;
        const std::string& msg = r.error();
        if (msg == "the string is not valid UTF-8")
            return;
        const std::size_t at = msg.rfind(" at byte ");
        ASSERT_NE(at, std::string::npos) << msg;
        const std::size_t pos = std::stoul(msg.substr(at + 9));
        EXPECT_LE(pos, text.size()) << msg;
    };

    for (std::size_t n = 0; n < doc.size(); ++n) {
        SCOPED_TRACE(n);
        const std::string prefix = doc.substr(0, n);
        ASSERT_FALSE(parse(prefix).ok());
        check(prefix);
    }

    const char replacements[] = {'\0', '"', '\\', '[', ']', '{',    '}',    ',',    ':',
                                 'u',  '+', 'e',  'x', ' ', '\x80', '\xC3', '\xED', '\xFF'};
    for (std::size_t i = 0; i < doc.size(); ++i) {
        for (const char c : replacements) {
            std::string text = doc;
            text[i] = c;
            check(text);
        }
    }

    std::mt19937 rng(12345);
    const std::string alphabet = "[]{}\",:\\u0123456789abcdefABCDEF+-.eEtrunlsf \t\n\x80\xC3\xF0";
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<std::size_t> length(0, 200);
    for (int round = 0; round < 20000; ++round) {
        std::string text(length(rng), ' ');
        for (char& c : text)
            c = alphabet[pick(rng)];
        check(text);
    }
}

TEST(JsonParseConcurrency, ParsesFromManyThreadsAtOnce) {
    const std::string doc = R"({"a":[1.5,-2e-3,"\u00e9",{"b":null}],"c":true})";
    const std::string expected = render(parse(doc).value());
    std::vector<std::string> results(4);
    std::vector<std::thread> threads;
    for (std::string& out : results) {
        threads.emplace_back([&doc, &out] {
            for (int i = 0; i < 200; ++i)
                out = render(parse(doc).value());
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (const std::string& out : results)
        EXPECT_EQ(out, expected);
}

} // namespace

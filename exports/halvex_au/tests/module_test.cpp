// The deliverable as a file: what it exports and what its registration promises.

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "halvex_unit.hpp"
#include "velk/au_test/symbols.hpp"

#include <gtest/gtest.h>

namespace velk::au_test {
namespace {

TEST(HalvexAuModule, ExportsOnlyHalvexFactory) {
    EXPECT_EQ(exported_symbols(HALVEX_AU_MODULE), std::set<std::string>{"HalvexFactory"});
}

/// The text of the `<string>` or `<integer>` after `<key>key</key>` in the registration.
std::string registered(const std::string& plist, const std::string& key) {
    const std::regex pattern("<key>" + key + R"(</key>\s*<(?:string|integer)>([^<]*)<)");
    std::smatch match;
    if (!std::regex_search(plist, match, pattern))
        return "<missing>";
    return match[1];
}

TEST(HalvexAuModule, TheRegistrationNamesWhatTheModuleServes) {
    std::ifstream file(HALVEX_AU_PLIST);
    std::stringstream text;
    text << file.rdbuf();
    const std::string plist = text.str();
    EXPECT_EQ(registered(plist, "type"), "aufx");
    EXPECT_EQ(registered(plist, "subtype"), HALVEX_AU_SUBTYPE);
    EXPECT_EQ(registered(plist, "manufacturer"), HALVEX_AU_MANUFACTURER);
    EXPECT_EQ(registered(plist, "name"), "Orvane Labs: Halvex");
    EXPECT_EQ(registered(plist, "version"), "256"); // 0.1.0
    EXPECT_EQ(registered(plist, "CFBundleVersion"), "0.1.0");

    // The factory it names is the one the module exports, and it builds units.
    const std::string factory = registered(plist, "factoryFunction");
    EXPECT_EQ(factory, "HalvexFactory");
    const auto make = load_factory(HALVEX_AU_MODULE, factory.c_str());
    ASSERT_NE(make, nullptr);
    EXPECT_EQ(make(nullptr), nullptr);
    const Unit unit(make, HALVEX_DESC);
    EXPECT_NE(unit.iface(), nullptr);
}

} // namespace
} // namespace velk::au_test

// What the built modules show the dynamic loader: one exported symbol and no
// library beyond the C library, the loader and, where it is not linked in, the
// C++ runtime.

#include <optional>
#include <string>
#include <string_view>

#include "velk/test/elf.hpp"

#include <gtest/gtest.h>

namespace {

struct Module {
    const char* path;
    bool static_runtime;
};

const Module MODULES[] = {
    {VELK_HALVEX_CLAP_PATH, VELK_HALVEX_STATIC_RUNTIME != 0},
    {VELK_HALVEX_SHARED_CLAP_PATH, false},
    {VELK_TEST_CLAP_PATH, false},
};

bool sanitized() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(undefined_behavior_sanitizer)
    return true;
#endif
#endif
    return false;
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool allowed_library(const std::string& name, bool static_runtime) {
    if (name == "libc.so.6" || name == "libm.so.6" || starts_with(name, "ld-linux"))
        return true;
    if (!static_runtime && (name == "libstdc++.so.6" || name == "libgcc_s.so.1"))
        return true;
    return sanitized() && (starts_with(name, "libclang_rt") || starts_with(name, "libasan") ||
                           starts_with(name, "libubsan") || starts_with(name, "libtsan"));
}

TEST(ClapModuleSymbols, ExportOnlyTheEntryRecord) {
    for (const Module& module : MODULES) {
        SCOPED_TRACE(module.path);
        const std::optional<velk::test::ElfDynamic> elf = velk::test::read_elf_dynamic(module.path);
        ASSERT_TRUE(elf.has_value());
        ASSERT_EQ(elf->exported.size(), 1u);
        EXPECT_EQ(elf->exported[0].name, "clap_entry");
        EXPECT_TRUE(elf->exported[0].object) << "clap_entry is a data record";
    }
}

TEST(ClapModuleSymbols, NeedOnlyTheCLibraryAndTheRuntime) {
    for (const Module& module : MODULES) {
        SCOPED_TRACE(module.path);
        const std::optional<velk::test::ElfDynamic> elf = velk::test::read_elf_dynamic(module.path);
        ASSERT_TRUE(elf.has_value());
        bool libc = false;
        for (const std::string& name : elf->needed) {
            EXPECT_TRUE(allowed_library(name, module.static_runtime)) << name;
            libc = libc || name == "libc.so.6";
        }
        EXPECT_TRUE(libc);
    }
}

} // namespace

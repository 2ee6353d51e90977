#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velk::test {

/// What a 64-bit ELF shared object shows the dynamic loader.
struct ElfDynamic {
    struct Symbol {
        std::string name;
        bool object = false; ///< a data object, not a function
    };
    std::vector<Symbol> exported;    ///< defined global and weak dynamic symbols
    std::vector<std::string> needed; ///< DT_NEEDED entries, in order
};

/// Reads `path`; nothing when it is not a well-formed 64-bit little-endian ELF file.
std::optional<ElfDynamic> read_elf_dynamic(const std::string& path);

} // namespace velk::test

#pragma once

// Reads the dynamic symbols a shared library exports, straight from its ELF file, so a
// test can check a module's exports without tools that may not know the target.

#include <algorithm>
#include <cstring>
#include <elf.h>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace velk::au_test {

/// The names of the symbols that `path` (a 64-bit little-endian ELF file) defines and
/// exports: defined entries of its dynamic symbol table with global, weak or unique
/// binding and default or protected visibility.
inline std::set<std::string> exported_symbols(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    const auto read = [&](std::size_t offset, auto& out) {
        if (offset > bytes.size() || bytes.size() - offset < sizeof out)
            return false;
        std::memcpy(&out, bytes.data() + offset, sizeof out);
        return true;
    };
    Elf64_Ehdr header{};
    if (!read(0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB) {
        ADD_FAILURE() << path << " is not a 64-bit little-endian ELF file";
        return {};
    }
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        if (!read(header.e_shoff + i * header.e_shentsize, sections[i])) {
            ADD_FAILURE() << "truncated section table";
            return {};
        }
    }
    const auto dynsym = std::find_if(sections.begin(), sections.end(),
                                     [](const Elf64_Shdr& s) { return s.sh_type == SHT_DYNSYM; });
    if (dynsym == sections.end() || dynsym->sh_link >= sections.size() ||
        dynsym->sh_entsize != sizeof(Elf64_Sym)) {
        ADD_FAILURE() << "no dynamic symbol table";
        return {};
    }
    const Elf64_Shdr& strings = sections[dynsym->sh_link];
    if (strings.sh_offset > bytes.size() || bytes.size() - strings.sh_offset < strings.sh_size) {
        ADD_FAILURE() << "truncated string table";
        return {};
    }
    std::set<std::string> names;
    for (std::size_t i = 0; i < dynsym->sh_size / sizeof(Elf64_Sym); ++i) {
        Elf64_Sym symbol{};
        if (!read(dynsym->sh_offset + i * sizeof(Elf64_Sym), symbol) ||
            symbol.st_name >= strings.sh_size) {
            ADD_FAILURE() << "truncated dynamic symbol table";
            return {};
        }
        const unsigned binding = ELF64_ST_BIND(symbol.st_info);
        const unsigned visibility = ELF64_ST_VISIBILITY(symbol.st_other);
        if (symbol.st_shndx == SHN_UNDEF ||
            (binding != STB_GLOBAL && binding != STB_WEAK && binding != STB_GNU_UNIQUE) ||
            (visibility != STV_DEFAULT && visibility != STV_PROTECTED))
            continue;
        const char* name = bytes.data() + strings.sh_offset + symbol.st_name;
        names.insert(std::string(name, strnlen(name, strings.sh_size - symbol.st_name)));
    }
    return names;
}

} // namespace velk::au_test

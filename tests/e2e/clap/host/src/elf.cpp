#include "velk/test/elf.hpp"

#include <cstring>
#include <elf.h>
#include <fstream>
#include <iterator>

namespace velk::test {
namespace {

// Bounds-checked copies out of the file image.
class Image {
public:
    explicit Image(std::vector<char> bytes) : bytes_(std::move(bytes)) {}

    template <typename T>
    std::optional<T> at(std::uint64_t offset) const {
        if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T))
            return std::nullopt;
        T value;
        std::memcpy(&value, bytes_.data() + offset, sizeof(T));
        return value;
    }

    std::optional<std::string> string(std::uint64_t table, std::uint64_t table_size,
                                      std::uint64_t offset) const {
        if (offset >= table_size || table > bytes_.size() || bytes_.size() - table < table_size)
            return std::nullopt;
        const char* begin = bytes_.data() + table + offset;
        const std::size_t room = static_cast<std::size_t>(table_size - offset);
        const std::size_t length = strnlen(begin, room);
        if (length == room)
            return std::nullopt;
        return std::string(begin, length);
    }

private:
    std::vector<char> bytes_;
};

} // namespace

std::optional<ElfDynamic> read_elf_dynamic(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    const Image image(std::vector<char>(std::istreambuf_iterator<char>(file), {}));
    const auto header = image.at<Elf64_Ehdr>(0);
    if (!header || std::memcmp(header->e_ident, ELFMAG, SELFMAG) != 0 ||
        header->e_ident[EI_CLASS] != ELFCLASS64 || header->e_ident[EI_DATA] != ELFDATA2LSB ||
        header->e_shentsize != sizeof(Elf64_Shdr))
        return std::nullopt;

    auto section = [&](std::uint64_t index) {
        return image.at<Elf64_Shdr>(header->e_shoff + index * sizeof(Elf64_Shdr));
    };
    ElfDynamic result;
    for (std::uint64_t i = 0; i < header->e_shnum; ++i) {
        const auto s = section(i);
        if (!s)
            return std::nullopt;
        if (s->sh_type != SHT_DYNSYM && s->sh_type != SHT_DYNAMIC)
            continue;
        const auto strings = section(s->sh_link);
        if (!strings)
            return std::nullopt;
        if (s->sh_type == SHT_DYNSYM) {
            for (std::uint64_t at = 0; at + sizeof(Elf64_Sym) <= s->sh_size;
                 at += sizeof(Elf64_Sym)) {
                const auto sym = image.at<Elf64_Sym>(s->sh_offset + at);
                if (!sym)
                    return std::nullopt;
                const unsigned bind = ELF64_ST_BIND(sym->st_info);
                if (sym->st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK))
                    continue;
                const auto name = image.string(strings->sh_offset, strings->sh_size, sym->st_name);
                if (!name)
                    return std::nullopt;
                result.exported.push_back({*name, ELF64_ST_TYPE(sym->st_info) == STT_OBJECT});
            }
        } else {
            for (std::uint64_t at = 0; at + sizeof(Elf64_Dyn) <= s->sh_size;
                 at += sizeof(Elf64_Dyn)) {
                const auto dyn = image.at<Elf64_Dyn>(s->sh_offset + at);
                if (!dyn)
                    return std::nullopt;
                if (dyn->d_tag != DT_NEEDED)
                    continue;
                const auto name =
                    image.string(strings->sh_offset, strings->sh_size, dyn->d_un.d_val);
                if (!name)
                    return std::nullopt;
                result.needed.push_back(*name);
            }
        }
    }
    return result;
}

} // namespace velk::test

// The main of a fuzz target outside libFuzzer: runs the target once on each file
// named on the command line, and on each file of each directory named, in name
// order. Fails when a path cannot be read or when there was nothing to run.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

// Runs one input from a buffer of exactly its size, so that the address sanitizer
// sees any read past its end.
bool replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    auto data = std::make_unique<std::uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), data.get());
    std::fprintf(stderr, "%s\n", file.c_str());
    LLVMFuzzerTestOneInput(data.get(), bytes.size());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path path = argv[i];
        std::error_code ec;
        if (!fs::is_directory(path, ec)) {
            if (!replay(path))
                return 1;
            ++count;
            continue;
        }
        std::vector<fs::path> files;
        for (const fs::directory_entry& entry : fs::directory_iterator(path, ec)) {
            if (entry.is_regular_file())
                files.push_back(entry.path());
        }
        if (ec) {
            std::fprintf(stderr, "cannot list %s\n", path.c_str());
            return 1;
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            if (!replay(file))
                return 1;
            ++count;
        }
    }
    if (count == 0) {
        std::fprintf(stderr, "usage: %s FILE_OR_DIRECTORY...; no input was given\n", argv[0]);
        return 1;
    }
    std::printf("replayed %zu inputs\n", count);
    return 0;
}

// The fuzz targets without libFuzzer: feeds every file of the folders and files given to
// LLVMFuzzerTestOneInput once, in name order, so each target's corpus runs as a regression test in
// every build (the sanitizer build included). A crash or a sanitizer report fails it; so does a
// corpus with no file in it, which would test nothing.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool readFile(const fs::path& path, std::vector<std::uint8_t>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
        std::printf(
            "usage: %s CORPUS-FOLDER-OR-FILE...\n"
            "Runs the fuzz target once over every input file given or found in the folders given.\n",
            argc > 0 ? argv[0] : "replay");
        return argc < 2 ? 2 : 0;
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        const fs::path given(argv[i]);
        if (fs::is_directory(given, error)) {
            for (const auto& entry : fs::directory_iterator(given, error)) {
                if (entry.is_regular_file()) inputs.push_back(entry.path());
            }
        } else if (fs::is_regular_file(given, error)) {
            inputs.push_back(given);
        }
        if (error) {
            std::fprintf(stderr, "%s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no input files in what was given\n");
        return 1;
    }
    std::sort(inputs.begin(), inputs.end());
    std::vector<std::uint8_t> bytes;
    for (const auto& path : inputs) {
        if (!readFile(path, bytes)) {
            std::fprintf(stderr, "%s: cannot read it\n", path.c_str());
            return 1;
        }
        // A copy of exactly the input's size, so a read past its end is caught as with libFuzzer; an
        // empty input still comes at an address, as libFuzzer gives it.
        std::vector<std::uint8_t> input(bytes);
        static std::uint8_t none = 0;
        LLVMFuzzerTestOneInput(input.empty() ? &none : input.data(), input.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return 0;
}

// Writes the container of every JSON text in a directory into another
// directory, as seeds for the container reader's fuzz target: unseeded, the
// fuzzer rarely gets past the header's offset checks.
//
// Usage: make_container_seeds <json dir> <seed dir> [max size]

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "dumps/json_container.hpp"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <json dir> <seed dir> [max size]\n", argv[0]);
        return 2;
    }
    const std::filesystem::path source_dir = argv[1];
    const std::filesystem::path seed_dir = argv[2];
    const std::size_t max_size = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 1024;
    std::filesystem::create_directories(seed_dir);
    int written = 0;
    for (const auto& entry : std::filesystem::directory_iterator(source_dir)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto bytes = vesk::dumps::compile_json_container(text);
        if (!bytes || bytes->size() > max_size) continue;
        std::ofstream out(seed_dir / entry.path().filename().replace_extension(".vesk"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
        ++written;
    }
    std::printf("%d seed containers in %s\n", written, seed_dir.c_str());
    return 0;
}

// The JSON-to-container compiler alone, for comparing machines: compiles
// each JSON file named on the command line into `<out-dir>/<its name>.vesk`
// and checks, on the machine it runs on, that it is the container of the
// independent statement of the rules (tests/support) and that the reader
// takes it back. scripts/platforms.sh builds it
// for every target and compares the containers with the host's byte for byte.
//
//     vesk_compile_corpus OUT_DIR FILE.json...

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "compile/compile_json.hpp"
#include "dumps/json_container.hpp"
#include "encode/encoder.hpp"
#include "loads/container_scan.hpp"

namespace {

bool read_file(const std::filesystem::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool write_file(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

// Compiles one document; the message says what went wrong otherwise.
bool compile_one(const std::filesystem::path& input, const std::filesystem::path& out_dir, std::string& message) {
    std::string text;
    if (!read_file(input, text)) {
        message = "cannot read";
        return false;
    }
    const vesk::Result<vesk::format::ByteBuffer> container = vesk::dumps::compile_json_container(text);
    if (!container.has_value()) {
        // A refused document is compared as its message.
        const std::string refused = container.error().formatted() + "\n";
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(refused.data());
        if (!write_file(out_dir / (input.filename().string() + ".refused"), {bytes, refused.size()})) {
            message = "cannot write the message";
            return false;
        }
        return true;
    }
    const vesk::Result<vesk::VeskDocument> document = vesk::compile_json_str(text);
    const vesk::Result<vesk::format::ByteBuffer> by_model =
        document ? vesk::encode_document(*document) : vesk::Result<vesk::format::ByteBuffer>(document.error());
    if (!by_model.has_value() || *by_model != *container) {
        message = "the model compiles it otherwise";
        return false;
    }
    if (vesk::loads::scan_container(*container).fault()) {
        message = "the reader refuses its container";
        return false;
    }
    if (!write_file(out_dir / (input.filename().string() + ".vesk"), *container)) {
        message = "cannot write the container";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUT_DIR FILE.json...\n", argv[0]);
        return 2;
    }
    const std::filesystem::path out_dir = argv[1];
    int failures = 0;
    for (int i = 2; i < argc; ++i) {
        std::string message;
        if (!compile_one(argv[i], out_dir, message)) {
            std::fprintf(stderr, "%s: %s\n", argv[i], message.c_str());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

// fuzz-container-seeds: tests/data/json-test-suite/test_parsing
// Reads arbitrary bytes as a container the way loads does (scan and walk),
// and holds the outcome against the reader and decompiler kept as test
// support: the same message for every refusal, the same tree for every
// container they read, and keys unique and in byte order.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "../tests/core/decode_document_equality.hpp"
#include "../tests/core/walk_tree_builder.hpp"
#include "loads/container_scan.hpp"

namespace {

// Null array items cost no input bytes, so each input byte can stand for
// about eleven thousand values; these bounds keep one run well inside the
// fuzzer's memory limit.
constexpr std::size_t kMaxInputSize = 1024;
constexpr std::size_t kMaxValues = 2'000'000;

[[noreturn]] void fail(std::string_view what, std::string_view detail = {}) {
    std::fprintf(stderr, "fuzz_decode: %.*s %.*s\n", static_cast<int>(what.size()), what.data(),
                 static_cast<int>(detail.size()), detail.data());
    std::abort();
}

bool keys_unique_and_sorted(const vesk::json::JsonValue& value) {
    for (std::size_t i = 1; i < value.members.size(); ++i) {
        if (!(std::string_view(value.members[i - 1].key) < std::string_view(value.members[i].key))) return false;
    }
    for (const vesk::json::JsonMember& member : value.members) {
        if (!keys_unique_and_sorted(member.value)) return false;
    }
    for (const vesk::json::JsonValue& item : value.items) {
        if (!keys_unique_and_sorted(item)) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInputSize) return -1;
    const std::span<const std::uint8_t> bytes(data, size);
    if (vesk::loads::scan_container(bytes).counts.values > kMaxValues) return 0;
    const vesk::Result<vesk::json::JsonValue> read = vesk::test::read_one_path(bytes);
    const vesk::Result<vesk::json::JsonValue> exact = vesk::test::read_exactly(bytes);
    if (read.has_value() != exact.has_value()) {
        fail(read ? "loads reads a container the reader refuses:" : "loads refuses a container that reads back:",
             read ? exact.error().message() : read.error().message());
    }
    if (!read) {
        if (read.error().message().empty()) fail("a refusal without a message");
        if (read.error().message() != exact.error().message()) fail("messages differ:", read.error().message());
        return 0;
    }
    const std::string difference = vesk::test::json_difference(*exact, *read);
    if (!difference.empty()) fail("loads and the decompiler differ:", difference);
    if (!keys_unique_and_sorted(*read)) fail("object keys not unique and in byte order");
    return 0;
}

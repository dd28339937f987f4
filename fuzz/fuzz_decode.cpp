// fuzz-container-seeds: tests/data/json-test-suite/test_parsing
// Reads arbitrary bytes as a container. Whatever reads back must decompile
// deterministically, encode again, and read back from that encoding as an
// equal document that decompiles to the same tree or fails the same way.
// The one-pass scan and walk that loads uses must agree with the reader and
// decompiler: the same message for a fault, and for valid input the same tree.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "../tests/core/decode_document_equality.hpp"
#include "../tests/core/walk_tree_builder.hpp"
#include "decode/decoder.hpp"
#include "decompile/decompiler.hpp"
#include "encode/encoder.hpp"
#include "loads/container_scan.hpp"

namespace {

// Null array items cost no input bytes, so each input byte can stand for
// about eleven thousand values; these bounds keep one run well inside the
// fuzzer's memory limit.
constexpr std::size_t kMaxInputSize = 1024;
constexpr std::size_t kMaxValuesForRoundTrip = 2'000'000;

[[noreturn]] void fail(std::string_view what, std::string_view detail = {}) {
    std::fprintf(stderr, "fuzz_decode: %.*s %.*s\n", static_cast<int>(what.size()), what.data(),
                 static_cast<int>(detail.size()), detail.data());
    std::abort();
}

std::size_t count_values(const vesk::VeskData& value) {
    std::size_t count = 1;
    for (const vesk::VeskData& child : value.children) count += count_values(child);
    return count;
}

bool keys_unique_and_sorted(const vesk::JsonValue& value) {
    for (std::size_t i = 1; i < value.members.size(); ++i) {
        if (!(std::string_view(value.members[i - 1].key) < std::string_view(value.members[i].key))) return false;
    }
    for (const vesk::JsonMember& member : value.members) {
        if (!keys_unique_and_sorted(member.value)) return false;
    }
    for (const vesk::JsonValue& item : value.items) {
        if (!keys_unique_and_sorted(item)) return false;
    }
    return true;
}

void expect_same_outcome(const vesk::Result<vesk::JsonValue>& a, const vesk::Result<vesk::JsonValue>& b) {
    if (a.has_value() != b.has_value()) fail("decompiling the re-read document changed the outcome");
    if (!a) {
        if (a.error().message() != b.error().message()) fail("decompile message changed:", b.error().message());
        return;
    }
    std::string difference = vesk::test::json_difference(*a, *b);
    if (!difference.empty()) fail("decompiled trees differ:", difference);
}

// loads' one path (scan and walk) gives the reader's and decompiler's
// message for every refusal, and their tree for every container they read.
void expect_one_path_agrees(std::span<const std::uint8_t> bytes) {
    if (vesk::scan_container(bytes).counts.values > kMaxValuesForRoundTrip) return;
    const vesk::Result<vesk::JsonValue> read = vesk::test::read_one_path(bytes);
    const vesk::Result<vesk::JsonValue> exact = vesk::test::read_exactly(bytes);
    if (read.has_value() != exact.has_value()) {
        fail(read ? "loads reads a container the reader refuses:" : "loads refuses a container that reads back:",
             read ? exact.error().message() : read.error().message());
    }
    if (!read) {
        if (read.error().message() != exact.error().message()) fail("messages differ:", read.error().message());
        return;
    }
    std::string difference = vesk::test::json_difference(*exact, *read);
    if (!difference.empty()) fail("loads and the decompiler differ:", difference);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInputSize) return -1;
    expect_one_path_agrees(std::span(data, size));
    vesk::Result<vesk::VeskDocument> document = vesk::decode_document(std::span(data, size));
    if (!document) {
        if (document.error().kind() != vesk::VeskErrorKind::Parse || document.error().message().empty()) {
            fail("reader failed without a parse message");
        }
        return 0;
    }
    std::size_t values = 0;
    for (const vesk::VeskChunk& chunk : document->chunks) values += count_values(chunk.data);
    if (values > kMaxValuesForRoundTrip) return 0;

    vesk::Result<vesk::JsonValue> json = vesk::decompile_document(*document);
    if (json && !keys_unique_and_sorted(*json)) fail("object keys not unique and in byte order");

    vesk::Result<vesk::ByteBuffer> bytes = vesk::encode_document(*document);
    if (!bytes) fail("a document that read back does not encode:", bytes.error().message());
    vesk::Result<vesk::VeskDocument> again = vesk::decode_document(*bytes);
    if (!again) fail("re-encoded document does not read back:", again.error().message());
    std::string difference = vesk::test::document_difference(*document, *again);
    if (!difference.empty()) fail("re-read document differs:", difference);

    expect_same_outcome(json, vesk::decompile_document(*again));
    return 0;
}

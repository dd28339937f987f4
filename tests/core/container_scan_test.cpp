#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "container_builder.hpp"
#include "decode_document_equality.hpp"
#include "loads/container_scan.hpp"
#include "walk_tree_builder.hpp"

namespace vesk {
namespace {

using test::array_record;
using test::assemble;
using test::Bytes;
using test::data_block;
using test::dictionary_block;
using test::entry;
using test::object_record;
using test::standard_definitions;

constexpr std::uint16_t kString = 5;

struct ScanCase {
    std::string name;
    ByteBuffer container;
    ScanVerdict verdict;
};

Bytes str_ref(std::uint32_t index) { return Bytes().u8(0xFF).u32(index); }

std::vector<ScanCase> scan_cases() {
    const Bytes records = standard_definitions({object_record(6, {{"s", VeskType::String}, {"n", VeskType::Int32}}),
                                                array_record(7, VeskType::Object)});
    const Bytes dict = dictionary_block({"shared"});
    auto object = [](const Bytes& s, std::int32_t n) { return Bytes().u16(6).append(s).u32(static_cast<std::uint32_t>(n)); };
    auto objects = [&](const Bytes& s) { return Bytes().u16(7).u16(6).u16(2).append(object(s, 1)).append(object(s, -2)); };
    const Bytes unordered = standard_definitions(
        {object_record(6, {{"k", VeskType::Int32}, {"b", VeskType::Null}, {"k", VeskType::String}, {"a", VeskType::Bool}})});
    const Bytes unordered_value = Bytes().u16(6).u32(9).string("later").u8(1);
    const Bytes renumbered = standard_definitions({object_record(8, {{"n", VeskType::Int32}}),
                                                   object_record(6, {{"m", VeskType::Int32}})});
    Bytes deep = Bytes().u16(6).u16(6).u16(0);
    for (int level = 1; level < 129; ++level) deep = Bytes().u16(6).u16(6).u16(1).append(deep);
    return {
        {"objects sharing a dictionary string", assemble(records, dict, data_block({entry(7, objects(str_ref(0)))})),
         ScanVerdict::Valid},
        {"inline text", assemble(records, dict, data_block({entry(7, objects(Bytes().string("t")))})), ScanVerdict::Valid},
        {"no chunk", assemble(records, dict, data_block({})), ScanVerdict::Valid},
        {"two chunks", assemble(records, dict, data_block({entry(kString, str_ref(0)), entry(6, object(str_ref(0), 3))})),
         ScanVerdict::Valid},
        {"names out of order and repeated", assemble(unordered, Bytes(), data_block({entry(6, unordered_value)})),
         ScanVerdict::Valid},
        {"inline text not UTF-8", assemble(records, dict, data_block({entry(7, objects(Bytes().u8(1).u8(0xFF)))})),
         ScanVerdict::Valid},
        {"reference past the dictionary, nested", assemble(records, dict, data_block({entry(7, objects(str_ref(1)))})),
         ScanVerdict::Fault},
        {"reference past the dictionary, as the chunk", assemble(records, dict, data_block({entry(kString, str_ref(1))})),
         ScanVerdict::Fault},
        {"number cut short", assemble(records, dict, data_block({entry(6, Bytes().u16(6).append(str_ref(0)).u16(1))})),
         ScanVerdict::Fault},
        {"payload longer than its value", assemble(records, dict, data_block({entry(kString, str_ref(0).u8(0))})),
         ScanVerdict::Fault},
        {"129 levels", assemble(standard_definitions({array_record(6, VeskType::Array)}), Bytes(),
                                data_block({entry(6, deep)})),
         ScanVerdict::Fault},
        {"object named by a definition numbered elsewhere",
         assemble(renumbered, Bytes(), data_block({entry(7, Bytes().u16(6).u32(4))})), ScanVerdict::Unsupported},
    };
}

class ScanAgreesWithReader : public testing::TestWithParam<ScanCase> {};

// A fault for a fault; for a valid container the walk builds the tree the
// decompiler builds, or refuses the text the reader refuses.
TEST_P(ScanAgreesWithReader, VerdictAndTree) {
    const ScanCase& one = GetParam();
    const ContainerScan scan = scan_container(one.container);
    ASSERT_EQ(scan.verdict, one.verdict);
    const Result<JsonValue> exact = test::read_exactly(one.container);
    switch (scan.verdict) {
        case ScanVerdict::Fault: EXPECT_FALSE(exact.has_value()); break;
        case ScanVerdict::Unsupported: EXPECT_TRUE(exact.has_value()); break;
        case ScanVerdict::Valid: {
            const std::optional<JsonValue> walked = test::walk_tree(one.container, scan);
            ASSERT_EQ(walked.has_value(), exact.has_value());
            if (walked) {
                EXPECT_EQ(test::json_difference(*exact, *walked), "");
            }
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, ScanAgreesWithReader, testing::ValuesIn(scan_cases()),
                         [](const testing::TestParamInfo<ScanCase>& info) {
                             std::string name;
                             for (char c : info.param.name) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

TEST(ContainerScan, CountsWhatTheResultHolds) {
    const ByteBuffer container = assemble(
        standard_definitions({array_record(6, VeskType::Null), object_record(7, {{"f", VeskType::Float32}}),
                              array_record(8, VeskType::Object)}),
        dictionary_block({"abc"}),
        data_block({entry(6, Bytes().u16(6).u16(0).u16(65535)),
                    entry(8, Bytes().u16(8).u16(7).u16(2).u16(7).u32(0).u16(7).u32(0)),
                    entry(kString, Bytes().string("hello"))}));
    const ContainerScan scan = scan_container(container);
    ASSERT_EQ(scan.verdict, ScanVerdict::Valid);
    EXPECT_EQ(scan.counts.values, 1 + 65535 + 1 + 2 * 2 + 1);
    EXPECT_EQ(scan.counts.numbers, 2u);
    EXPECT_EQ(scan.counts.arrays, 2u);
    EXPECT_EQ(scan.counts.objects, 2u);
    EXPECT_EQ(scan.counts.members, 2u);
    EXPECT_EQ(scan.counts.inline_strings, 1u);
    EXPECT_EQ(scan.counts.inline_bytes, 5u);
    EXPECT_EQ(scan.counts.dict_bytes, 3u);
}

}  // namespace
}  // namespace vesk

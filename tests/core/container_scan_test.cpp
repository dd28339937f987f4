#include <gtest/gtest.h>

#include <cctype>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "container_builder.hpp"
#include "decode_document_equality.hpp"
#include "loads/container_scan.hpp"
#include "loads/read_fault.hpp"
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
    format::ByteBuffer container;
    // What loads reports, or empty for a container that reads.
    std::string message;
};

Bytes str_ref(std::uint32_t index) { return Bytes().u8(0xFF).u32(index); }

std::vector<ScanCase> scan_cases() {
    const Bytes records = standard_definitions({object_record(6, {{"s", format::VeskType::String}, {"n", format::VeskType::Int32}}),
                                                array_record(7, format::VeskType::Object)});
    const Bytes dict = dictionary_block({"shared"});
    auto object = [](const Bytes& s, std::int32_t n) { return Bytes().u16(6).append(s).u32(static_cast<std::uint32_t>(n)); };
    auto objects = [&](const Bytes& s) { return Bytes().u16(7).u16(6).u16(2).append(object(s, 1)).append(object(s, -2)); };
    const Bytes bad_text = Bytes().u8(1).u8(0xFF);
    const Bytes unordered = standard_definitions(
        {object_record(6, {{"k", format::VeskType::Int32}, {"b", format::VeskType::Null}, {"k", format::VeskType::String}, {"a", format::VeskType::Bool}})});
    const Bytes unordered_value = Bytes().u16(6).u32(9).string("later").u8(1);
    // Objects numbered 6 read their values by position 6 and their keys by
    // index 6, which position 7 holds.
    const Bytes renumbered = standard_definitions({object_record(8, {{"n", format::VeskType::Int32}}),
                                                   object_record(6, {{"m", format::VeskType::Int32}})});
    const Bytes renamed_unfit = standard_definitions({object_record(8, {{"n", format::VeskType::Int32}}),
                                                      object_record(6, {{"m", format::VeskType::Int32}, {"o", format::VeskType::Null}})});
    const Bytes named_by_array = standard_definitions({object_record(8, {{"n", format::VeskType::Int32}}),
                                                       array_record(6, format::VeskType::Int32)});
    const Bytes named_by_none = standard_definitions({object_record(8, {{"n", format::VeskType::Int32}})});
    Bytes deep = Bytes().u16(6).u16(6).u16(0);
    for (int level = 1; level < 129; ++level) deep = Bytes().u16(6).u16(6).u16(1).append(deep);
    return {
        {"objects sharing a dictionary string", assemble(records, dict, data_block({entry(7, objects(str_ref(0)))})), ""},
        {"inline text", assemble(records, dict, data_block({entry(7, objects(Bytes().string("t")))})), ""},
        {"no chunk", assemble(records, dict, data_block({})), ""},
        {"two chunks", assemble(records, dict, data_block({entry(kString, str_ref(0)), entry(6, object(str_ref(0), 3))})), ""},
        {"names out of order and repeated", assemble(unordered, Bytes(), data_block({entry(6, unordered_value)})), ""},
        {"inline text not UTF-8", assemble(records, dict, data_block({entry(7, objects(bad_text))})),
         "Invalid UTF-8 string: invalid utf-8 sequence of 1 bytes from index 0"},
        {"reference past the dictionary, nested", assemble(records, dict, data_block({entry(7, objects(str_ref(1)))})),
         "StrRef index 1 out of bounds"},
        {"reference past the dictionary, as the chunk", assemble(records, dict, data_block({entry(kString, str_ref(1))})),
         "StrRef index 1 out of bounds (dict len 1)"},
        {"a bad text outranks a later fault of meaning",
         assemble(records, dict, data_block({entry(kString, bad_text), entry(kString, str_ref(1))})),
         "Invalid UTF-8 string: invalid utf-8 sequence of 1 bytes from index 0"},
        {"a bad text outranks an earlier fault of meaning",
         assemble(records, dict, data_block({entry(kString, str_ref(1)), entry(kString, bad_text)})),
         "Invalid UTF-8 string: invalid utf-8 sequence of 1 bytes from index 0"},
        {"a bad text outranks a later cut",
         assemble(records, dict, data_block({entry(kString, bad_text), entry(6, Bytes().u16(6).append(str_ref(0)).u16(1))})),
         "Invalid UTF-8 string: invalid utf-8 sequence of 1 bytes from index 0"},
        {"number cut short", assemble(records, dict, data_block({entry(6, Bytes().u16(6).append(str_ref(0)).u16(1))})),
         "Expected int32 (4 bytes)"},
        {"payload longer than its value", assemble(records, dict, data_block({entry(kString, str_ref(0).u8(0))})),
         "Mismatch entry 0: consumed 5 of 6"},
        {"129 levels", assemble(standard_definitions({array_record(6, format::VeskType::Array)}), Bytes(), data_block({entry(6, deep)})),
         "Max recursion depth"},
        {"object named by a definition numbered elsewhere",
         assemble(renumbered, Bytes(), data_block({entry(7, Bytes().u16(6).u32(4))})), ""},
        {"object named by a definition with other fields",
         assemble(renamed_unfit, Bytes(), data_block({entry(6, Bytes().u16(6).u32(4))})),
         "Object #6: expected 2 fields, got 1"},
        {"object named by an array definition",
         assemble(named_by_array, Bytes(), data_block({entry(6, Bytes().u16(6).u32(4))})),
         "Object #6: no field definitions"},
        {"object named by nothing", assemble(named_by_none, Bytes(), data_block({entry(6, Bytes().u16(6).u32(4))})),
         "Unknown definition index: 6"},
    };
}

class OnePathAgreesWithReader : public testing::TestWithParam<ScanCase> {};

// loads' reading gives the message the reader and decompiler give, or the
// tree they build.
TEST_P(OnePathAgreesWithReader, MessageOrTree) {
    const ScanCase& one = GetParam();
    const Result<json::JsonValue> read = test::read_one_path(one.container);
    const Result<json::JsonValue> exact = test::read_exactly(one.container);
    ASSERT_EQ(read.has_value(), one.message.empty()) << (read ? "" : read.error().message());
    ASSERT_EQ(exact.has_value(), read.has_value());
    if (read) {
        EXPECT_EQ(test::json_difference(*exact, *read), "");
    } else {
        EXPECT_EQ(read.error().message(), one.message);
        EXPECT_EQ(exact.error().message(), one.message);
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, OnePathAgreesWithReader, testing::ValuesIn(scan_cases()),
                         [](const testing::TestParamInfo<ScanCase>& info) {
                             std::string name;
                             for (char c : info.param.name) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

TEST(ContainerScan, CountsWhatTheResultHolds) {
    const format::ByteBuffer container = assemble(
        standard_definitions({array_record(6, format::VeskType::Null), object_record(7, {{"f", format::VeskType::Float32}}),
                              array_record(8, format::VeskType::Object)}),
        dictionary_block({"abc"}),
        data_block({entry(6, Bytes().u16(6).u16(0).u16(65535)),
                    entry(8, Bytes().u16(8).u16(7).u16(2).u16(7).u32(0).u16(7).u32(0)),
                    entry(kString, Bytes().string("hello"))}));
    const loads::ContainerScan scan = loads::scan_container(container);
    ASSERT_FALSE(scan.fault());
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

namespace vesk {
namespace {

// Two entries: [{"k": "xyz"}, {"k": ref 0}, {"k": ref 9}] built from
// definitions 6 (object) and 7 (array of objects), and a bare Int32. The
// census goes by the reader's rules alone: reference 9, past the dictionary,
// counts as a reference but not as a use of a string.
TEST(ContainerScan, CensusCountsDefinitionUsesReferencesAndValues) {
    const format::ByteBuffer container = test::assemble(
        test::standard_definitions({test::object_record(6, {{"k", format::VeskType::String}}),
                                    test::array_record(7, format::VeskType::Object)}),
        test::dictionary_block({"shared", "unused"}),
        test::data_block({test::entry(7, test::Bytes().u16(7).u16(6).u16(3).u16(6).string("xyz").u16(6).u8(0xFF).u32(0)
                                             .u16(6).u8(0xFF).u32(9)),
                          test::entry(2, test::Bytes().u32(5))}));
    loads::ScanCensus census;
    const loads::ContainerScan scan = loads::scan_container(container, census);
    EXPECT_FALSE(scan.reader_fault);
    EXPECT_TRUE(scan.meaning_fault);
    EXPECT_EQ(census.definition_uses, (std::vector<std::uint64_t>{0, 0, 1, 0, 0, 0, 3, 1}));
    EXPECT_EQ(census.dictionary_uses, (std::vector<std::uint64_t>{1, 0}));
    EXPECT_EQ(census.values_by_type, (std::array<std::uint64_t, format::kTypeCount>{0, 0, 1, 0, 0, 1, 1, 3}));
    EXPECT_EQ(census.references, 2u);
    EXPECT_EQ(scan.counts.inline_bytes, 3u);
    EXPECT_EQ(scan.entries, 2u);
}

}  // namespace
}  // namespace vesk

namespace vesk {
namespace {

// Everything a scan records, as one text, so that two scans compare whole.
std::string scan_record(const loads::ContainerScan& scan) {
    std::string out = scan.fault() ? loads::describe_read_fault(*scan.fault()) : "no fault";
    auto add = [&out](std::initializer_list<std::uint64_t> values) {
        for (std::uint64_t value : values) {
            out += ' ';
            out += std::to_string(value);
        }
        out += ';';
    };
    const loads::ScanCounts& c = scan.counts;
    add({scan.version, scan.def_block_offset, scan.dict_block_offset, scan.data_block_offset, scan.entries});
    add({c.values, c.numbers, c.inline_strings, c.inline_bytes, c.arrays, c.objects, c.members, c.dict_bytes});
    for (const loads::ScanDefinition& d : scan.definitions) {
        add({format::type_byte(d.kind), format::type_byte(d.elem_type), d.index, d.names_fit, d.keys_in_field_order,
             d.fixed, d.named_by, d.first_field, d.field_count, d.key_field, d.first_member, d.member_count,
             d.fixed_size, d.fixed_numbers});
    }
    for (const loads::ScanField& f : scan.fields) {
        add({f.name_offset, f.name_length, format::type_byte(f.type), f.first_of_name});
    }
    for (const loads::ScanMember& m : scan.members) add({m.key_field, m.value_field});
    for (const loads::ScanText& t : scan.dict) add({t.offset, t.length});
    return out;
}

// loads keeps one scan for call after call: what it records of a container
// must not depend on the containers scanned into it before.
TEST(ContainerScan, AScanReusedForContainerAfterContainerRecordsWhatAFreshOneDoes) {
    std::vector<ScanCase> cases = scan_cases();
    const std::vector<ScanCase> forward = cases;
    cases.insert(cases.end(), forward.rbegin(), forward.rend());
    loads::ContainerScan reused;
    for (const ScanCase& one : cases) {
        loads::scan_container(one.container, reused);
        EXPECT_EQ(scan_record(reused), scan_record(loads::scan_container(one.container))) << one.name;
    }
}

// The memory guard skips counting the scan's tables of a container small
// enough for kScanTableBytesPerByte of it to need no guarding; the count
// must never exceed it, on the containers of the cases, on those whose
// blocks are all definitions, fields or dictionary strings of the fewest
// bytes, and on every cut of them.
TEST(ContainerScan, TableBytesStayWithinTheBoundPerByte) {
    std::vector<format::ByteBuffer> containers;
    for (const ScanCase& one : scan_cases()) containers.push_back(one.container);
    std::vector<std::pair<std::string, format::VeskType>> empty_names(300, {"", format::VeskType::Null});
    std::vector<Bytes> arrays;
    for (std::uint16_t i = 0; i < 300; ++i) arrays.push_back(array_record(static_cast<std::uint16_t>(6 + i), format::VeskType::Bool));
    std::vector<Bytes> primitives(300, test::primitive_record(format::VeskType::Null, 0));
    containers.push_back(assemble(standard_definitions({object_record(6, empty_names)}), Bytes(), data_block({})));
    containers.push_back(assemble(standard_definitions(arrays), Bytes(), data_block({})));
    containers.push_back(assemble(test::definition_block(primitives), Bytes(), data_block({})));
    containers.push_back(assemble(standard_definitions(), dictionary_block(std::vector<std::string>(300, "")), data_block({})));
    for (const format::ByteBuffer& container : containers) {
        for (std::size_t size = 0; size <= container.size(); ++size) {
            const std::span<const std::uint8_t> cut(container.data(), size);
            EXPECT_LE(loads::scan_table_bytes(cut), loads::kScanTableBytesPerByte * size);
        }
    }
}

}  // namespace
}  // namespace vesk

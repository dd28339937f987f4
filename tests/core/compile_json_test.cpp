#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "compile/compile_json.hpp"
#include "compile_test_render.hpp"
#include "decode/decoder.hpp"
#include "encode/encoder.hpp"

namespace vesk {
namespace {

using namespace compile_test;
using Strings = std::vector<std::string>;

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// "def_index value" of the single chunk, or the formatted error.
std::string compile_text(std::string_view text) {
    Result<VeskDocument> document = compile_json_str(text);
    if (!document) return document.error().formatted();
    if (document->chunks.size() != 1) return std::string("chunks: ").append(std::to_string(document->chunks.size()));
    const VeskChunk& chunk = document->chunks[0];
    return std::to_string(chunk.def_index) + " " + render(chunk.data);
}

struct TextCase {
    const char* name;
    std::string text;
    std::string outcome;

    friend void PrintTo(const TextCase& c, std::ostream* out) { *out << c.name; }
};

class CompileJsonTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(CompileJsonTextTest, CompilesToOneChunkOrFails) {
    EXPECT_EQ(compile_text(GetParam().text), GetParam().outcome);
}

const std::string parse_failure = "Failed to parse VESK: ";

// The rendered chunk of `depth` nested empty arrays: the innermost is an
// array of Null (6), every other an array of Array (7), all with element 0.
std::string nested_empty_arrays(int depth) {
    std::string out = "7 ";
    for (int i = 1; i < depth; ++i) out += "A7/0[";
    out += "A6/0[]";
    out.append(depth - 1, ']');
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Compile, CompileJsonTextTest,
    testing::Values(
        TextCase{"null_root", "null", "0 null"},
        TextCase{"bool_root", "true", "1 true"},
        TextCase{"int_root", "5", "2 i:5"},
        TextCase{"float_root", "1.5", "4 f:1.5"},
        TextCase{"string_root", "\"s\"", "5 s\"s\""},
        TextCase{"escaped_text_is_the_same_text", "[\"\\u0041\", \"A\"]", "6 A6/5[s\"A\",r:0]"},
        TextCase{"wraps_to_int_min", "2147483648", "2 i:-2147483648"},
        TextCase{"u32_max", "4294967295", "2 i:-1"},
        TextCase{"past_u32", "4294967297", "2 i:1"},
        TextCase{"below_int_min", "-2147483649", "2 i:2147483647"},
        TextCase{"two_to_63", "9223372036854775808", "3 u:0"},
        TextCase{"u64_max", "18446744073709551615", "3 u:4294967295"},
        TextCase{"below_i64", "-9223372036854775809", "4 f:-9.223372e+18"},
        TextCase{"beyond_u64", "18446744073709551616", "4 f:1.8446744e+19"},
        TextCase{"minus_zero", "-0", "4 f:-0"},
        TextCase{"zero", "0", "2 i:0"},
        TextCase{"float_overflow", "1e39", "4 f:inf"},
        TextCase{"tenth", "0.1", "4 f:0.1"},
        TextCase{"empty_array", "[]", "6 A6/0[]"},
        TextCase{"null_array", "[null, null]", "6 A6/0[null,null]"},
        TextCase{"nested_arrays", "[[1, 2], [3]]", "7 A7/2[A6/2[i:1,i:2],A6/2[i:3]]"},
        TextCase{"array_of_object", "[{\"a\": 1}]", "7 A7/6[O6{i:1}]"},
        TextCase{"root_array_is_one_chunk", "[1, 2, 3]", "6 A6/2[i:1,i:2,i:3]"},
        TextCase{"last_duplicate_wins", "{\"a\": 1, \"a\": 2}", "6 O6{i:2}"},
        TextCase{"duplicate_leaves_no_entry", "{\"a\": \"x\", \"a\": \"x\"}", "6 O6{s\"x\"}"},
        TextCase{"name_order", "{\"b\": 1, \"a\": 2, \"A\": 3}", "6 O6{i:3,i:2,i:1}"},
        TextCase{"worked_example", "{\"b\": [\"x\", \"x\"], \"a\": {\"k\": 1}}", "8 O8{O6{i:1},A7/5[s\"x\",r:0]}"},
        TextCase{"mixed_numbers", "[1, 2.5, -3]", "6 A6/4[f:1,f:2.5,f:-3]"},
        TextCase{"mixed_refused", "[1, \"a\"]", "Unsupported data type: array item 1 is String, expected Int32"},
        TextCase{"trailing_whitespace", "[1] \n\r\t ", "6 A6/2[i:1]"},
        TextCase{"empty_text", "", parse_failure + "EOF while parsing a value at line 1 column 0"},
        TextCase{"no_value", "x", parse_failure + "expected value at line 1 column 1"},
        TextCase{"trailing_characters", "[1] x", parse_failure + "trailing characters at line 1 column 5"},
        TextCase{"number_out_of_range", "1e400", parse_failure + "number out of range at line 1 column 5"},
        TextCase{"depth_127", std::string(127, '[') + std::string(127, ']'), nested_empty_arrays(127)},
        TextCase{"depth_128", std::string(128, '[') + std::string(128, ']'),
                 parse_failure + "recursion limit exceeded at line 1 column 128"}),
    [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

TEST(CompileJsonDocumentTest, WorkedExampleDocument) {
    Result<VeskDocument> document = compile_json_str(R"({"b": ["x", "x"], "a": {"k": 1}})");
    ASSERT_TRUE(document.has_value());
    EXPECT_EQ(document->version, 1);
    EXPECT_EQ(document->def_block_offset, 13u);
    EXPECT_EQ(document->dict_block_offset, 0u);
    EXPECT_EQ(document->data_block_offset, 0u);
    ASSERT_EQ(document->definitions.size(), 9u);
    for (std::uint16_t i = 0; i < 6; ++i) {
        EXPECT_EQ(document->definitions[i].index, i);
        EXPECT_EQ(format::type_byte(document->definitions[i].kind), i);
    }
    EXPECT_EQ(render_shapes(document->definitions), (Strings{"6:{k:Int32}", "7:[String]", "8:{a:Object,b:Array}"}));
    EXPECT_EQ(document->dict, Strings{"x"});
    ASSERT_EQ(document->chunks.size(), 1u);
    EXPECT_EQ(document->chunks[0].def_index, 8);
}

// 13-byte header, then the six primitive definitions as kind, index.
format::ByteBuffer container_start(std::uint32_t dict_offset, std::uint32_t data_offset, std::uint16_t definition_count) {
    format::ByteBuffer bytes = {0x01, 0x0D, 0, 0, 0};
    for (std::uint32_t offset : {dict_offset, data_offset}) {
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(offset >> shift));
    }
    bytes.push_back(static_cast<std::uint8_t>(definition_count));
    bytes.push_back(static_cast<std::uint8_t>(definition_count >> 8));
    for (std::uint8_t i = 0; i < 6; ++i) bytes.insert(bytes.end(), {i, i, 0});
    return bytes;
}

format::ByteBuffer concat(format::ByteBuffer head, const format::ByteBuffer& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST(CompileJsonDocumentTest, EncodesToTheExpectedBytes) {
    const std::pair<const char*, format::ByteBuffer> cases[] = {
        {R"({"b": "x", "a": 1})",
         concat(container_start(44, 48, 7), {0x11, 0x06, 0x00, 0x02, 0x00, 0x01, 0x61, 0x02, 0x01, 0x62, 0x05,  // defs
                                             0x00, 0x00, 0x00, 0x00,                                        // dict
                                             0x01, 0x00, 0x00, 0x00, 0x06, 0x00, 0x08, 0x00, 0x00, 0x00,    // entry
                                             0x06, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x78})},
        {R"(["x", "x"])",
         concat(container_start(37, 43, 7), {0x10, 0x06, 0x00, 0x05,                                  // defs
                                             0x01, 0x00, 0x00, 0x00, 0x01, 0x78,                      // dict
                                             0x01, 0x00, 0x00, 0x00, 0x06, 0x00, 0x0D, 0x00, 0x00, 0x00,  // entry
                                             0x06, 0x00, 0x05, 0x00, 0x02, 0x00, 0x01, 0x78, 0xFF, 0x00, 0x00, 0x00, 0x00})},
    };
    for (const auto& [text, expected] : cases) {
        Result<VeskDocument> document = compile_json_str(text);
        ASSERT_TRUE(document.has_value()) << text;
        Result<format::ByteBuffer> bytes = encode_document(*document);
        ASSERT_TRUE(bytes.has_value()) << bytes.error().formatted();
        EXPECT_EQ(*bytes, expected) << text;
    }
}

TEST(CompileJsonDocumentTest, TooManyShapesCompileButAreNotWritten) {
    std::string text = "[";
    for (int i = 0; i < 65530; ++i) text.append(i ? ",{\"k" : "{\"k").append(std::to_string(i)).append("\":0}");
    text += "]";
    Result<VeskDocument> document = compile_json_str(text);
    ASSERT_TRUE(document.has_value());
    EXPECT_EQ(document->definitions.size(), 65537u);
    Result<format::ByteBuffer> bytes = encode_document(*document);
    ASSERT_FALSE(bytes.has_value());
    EXPECT_EQ(bytes.error().message(), "Too many definitions (65537), max 65535");
}

// ---- the conformance suite and the corpus ----

TEST(CompileJsonSuiteTest, AcceptedFilesCompileUnlessTheyMixArrayItems) {
    // The only accepted files whose arrays mix item types: [null, 1, "1", {}]
    // and [1, null, null, null, 2].
    const std::set<std::string> mixed_arrays = {"y_array_heterogeneous.json", "y_array_with_several_null.json"};
    std::set<std::string> refused;
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(VESK_TEST_SUITE_DIR)) {
        std::string name = entry.path().filename().string();
        std::string text = read_file(entry.path());
        Result<VeskDocument> document = compile_json_str(text);
        ++files;
        if (name.starts_with("n_")) {
            EXPECT_FALSE(document.has_value()) << name;
            if (!document) {
                EXPECT_EQ(document.error().kind(), VeskErrorKind::Parse) << name;
            }
        } else if (name.starts_with("y_") && !document) {
            refused.insert(name);
            EXPECT_EQ(document.error().kind(), VeskErrorKind::UnsupportedType) << name;
            EXPECT_TRUE(document.error().message().starts_with("array item ")) << name << ": "
                                                                               << document.error().message();
        }
        if (document) {
            Result<format::ByteBuffer> bytes = encode_document(*document);
            EXPECT_TRUE(bytes.has_value()) << name;
        }
    }
    EXPECT_GT(files, 300u);
    EXPECT_EQ(refused, mixed_arrays);
}

// Everything a compiled document holds, as text.
std::string fingerprint(const VeskDocument& document) {
    std::string out;
    for (const std::string& shape : render_shapes(document.definitions)) out += shape + "\n";
    for (const std::string& text : document.dict) out += text + "\n";
    for (const VeskChunk& chunk : document.chunks) out += std::to_string(chunk.def_index) + render(chunk.data);
    return out;
}

struct CorpusCase {
    const char* file;
    const char* write_error;  // empty: the document is written, and then reads back
};

class CompileJsonCorpusTest : public testing::TestWithParam<CorpusCase> {};

TEST_P(CompileJsonCorpusTest, CompilesAlikeTwiceAndReadsBack) {
    const CorpusCase& c = GetParam();
    std::string text = read_file(std::filesystem::path(VESK_CORPUS_DIR) / c.file);
    ASSERT_FALSE(text.empty());
    Result<VeskDocument> first = compile_json_str(text);
    Result<VeskDocument> second = compile_json_str(text);
    ASSERT_TRUE(first.has_value()) << first.error().formatted();
    ASSERT_TRUE(second.has_value()) << second.error().formatted();
    EXPECT_TRUE(fingerprint(*first) == fingerprint(*second));

    Result<format::ByteBuffer> bytes = encode_document(*first);
    if (*c.write_error != 0) {
        ASSERT_FALSE(bytes.has_value());
        EXPECT_EQ(bytes.error().message(), c.write_error);
        return;
    }
    ASSERT_TRUE(bytes.has_value()) << bytes.error().formatted();
    Result<format::ByteBuffer> again = encode_document(*second);
    ASSERT_TRUE(again.has_value());
    EXPECT_TRUE(*bytes == *again);
    // Every compiled array holds items of its element type only, so the
    // container reads back and writes again to the same bytes.
    Result<VeskDocument> decoded = decode_document(*bytes);
    ASSERT_TRUE(decoded.has_value()) << decoded.error().formatted();
    Result<format::ByteBuffer> rewritten = encode_document(*decoded);
    ASSERT_TRUE(rewritten.has_value());
    EXPECT_TRUE(*rewritten == *bytes);
}

INSTANTIATE_TEST_SUITE_P(Compile, CompileJsonCorpusTest,
                         testing::Values(CorpusCase{"apache_builds.json", ""},
                                         CorpusCase{"canada.json", ""},
                                         CorpusCase{"citm_catalog.json", ""},
                                         CorpusCase{"github_events.json", ""},
                                         CorpusCase{"gsoc-2018.json", ""},
                                         CorpusCase{"instruments.json", ""},
                                         CorpusCase{"marine_ik.json", "Array has 74087 items (max 65535)"},
                                         CorpusCase{"mesh.json", ""},
                                         CorpusCase{"twitter.json", ""},
                                         CorpusCase{"update-center.json", ""}),
                         [](const testing::TestParamInfo<CorpusCase>& info) {
                             std::string name = info.param.file;
                             name = name.substr(0, name.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
}  // namespace vesk

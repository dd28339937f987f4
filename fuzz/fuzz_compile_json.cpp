// Compiles arbitrary text as JSON the one way dumps does, and checks it
// against an independent statement of the rules (the value tree reader, the
// document compiler and the document writer, kept as test support): the
// same container byte for byte or the same error word for word, also just
// below the container's exact size, whether the text is read as UTF-8
// (vouched for or not) or as code points (Latin-1, UCS-2, UCS-4 units, the
// way a Python str holds it); surrogates, which the input spells as UTF-8
// would if it allowed them, have no UTF-8 form and are refused. Compiling
// twice gives the same bytes. The raw bytes are also read as Latin-1 text.
//
// fuzz-seeds: tests/data/json-test-suite/test_parsing

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "compile/compile_json.hpp"
#include "dumps/json_container.hpp"
#include "encode/encoder.hpp"
#include "format/utf8.hpp"

namespace {

using namespace vesk;

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "invariant broken: %s: %s\n", what, detail.c_str());
    std::abort();
}

void check(bool holds, const char* what, const std::string& detail = {}) {
    if (!holds) fail(what, detail);
}

std::string outcome_of(const Result<format::ByteBuffer>& bytes) {
    if (!bytes) return "error: " + bytes.error().message();
    return std::string(bytes->begin(), bytes->end());
}

// The model's container or error.
Result<format::ByteBuffer> model_container(std::string_view text, std::size_t max_container_size = format::kMaxContainerSize) {
    Result<VeskDocument> document = compile_json_str(text);
    if (!document) return std::move(document).error();
    return encode_document_within(*document, max_container_size);
}

std::string outcome_of(Result<dumps::JsonContainer>& compiled) {
    if (!compiled) return "error: " + compiled.error().message();
    format::ByteBuffer written(compiled->size());
    compiled->write(written);
    return std::string(written.begin(), written.end());
}

// The one path against the model, and just below the container's size.
void check_one_path(std::string_view text) {
    const Result<format::ByteBuffer> expected = model_container(text);
    const Result<format::ByteBuffer> compiled = dumps::compile_json_container(text);
    check(outcome_of(compiled) == outcome_of(expected), "the one path differs from the model",
          outcome_of(compiled).substr(0, 200));
    check(outcome_of(dumps::compile_json_container(text)) == outcome_of(compiled), "a second compilation differs");
    if (!compiled) return;
    // Text the model takes is well-formed UTF-8, which dumps vouches for.
    Result<dumps::JsonContainer> trusting = dumps::JsonContainer::compile(text, format::kMaxContainerSize, dumps::KnownUtf8::Yes);
    check(outcome_of(trusting) == outcome_of(expected), "vouched-for text compiles otherwise");
    check(outcome_of(dumps::compile_json_container(text, compiled->size() - 1)) ==
              outcome_of(model_container(text, compiled->size() - 1)),
          "the one path differs from the model below the ceiling");
}

bool is_surrogate(char32_t code_point) { return code_point >= 0xD800 && code_point <= 0xDFFF; }

template <class Unit>
void check_code_point_text(const std::vector<char32_t>& code_points) {
    const std::vector<Unit> units(code_points.begin(), code_points.end());
    Result<dumps::JsonContainer> compiled = dumps::JsonContainer::compile(json::CodePointText(std::span<const Unit>(units)));
    std::string utf8;
    for (const char32_t code_point : code_points) {
        if (is_surrogate(code_point)) {
            check(!compiled, "code-point text with a surrogate compiled");
            return;
        }
        format::append_utf8(utf8, code_point);
    }
    check(outcome_of(compiled) == outcome_of(model_container(utf8)), "code-point text compiles otherwise than the model");
}

// The code points of the input, if it is UTF-8 with surrogates allowed.
std::optional<std::vector<char32_t>> decode_code_points(const std::uint8_t* p, const std::uint8_t* end) {
    std::vector<char32_t> code_points;
    while (p != end) {
        if (*p < 0x80) {
            code_points.push_back(*p++);
            continue;
        }
        std::size_t width = format::read_utf8_sequence(p, end).width;
        const bool surrogate = width == 0 && *p == 0xED && end - p >= 3 && p[1] >= 0xA0 && p[1] <= 0xBF &&
                               p[2] >= 0x80 && p[2] <= 0xBF;
        if (surrogate) width = 3;
        if (width == 0) return std::nullopt;
        char32_t code_point = *p & (0x7F >> width);
        for (std::size_t k = 1; k < width; ++k) code_point = (code_point << 6) | (p[k] & 0x3F);
        code_points.push_back(code_point);
        p += width;
    }
    return code_points;
}

void check_code_point_texts(const std::uint8_t* data, std::size_t size) {
    check_code_point_text<std::uint8_t>(std::vector<char32_t>(data, data + size));
    const std::optional<std::vector<char32_t>> code_points = decode_code_points(data, data + size);
    if (!code_points) return;
    char32_t widest = 0;
    for (const char32_t code_point : *code_points) widest = std::max(widest, code_point);
    if (widest < 0x100) check_code_point_text<std::uint8_t>(*code_points);
    if (widest < 0x10000) check_code_point_text<std::uint16_t>(*code_points);
    check_code_point_text<std::uint32_t>(*code_points);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_one_path(std::string_view(reinterpret_cast<const char*>(data), size));
    check_code_point_texts(data, size);
    return 0;
}

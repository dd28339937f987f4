// Compiles arbitrary text as JSON and checks what must hold for every input:
// text the reader refuses fails compilation with the reader's own error; text
// it accepts compiles, unless an array mixes item types; compiling twice gives
// the same bytes; every compiled value agrees with its definition; the
// document encodes unless it exceeds a limit of the container; and the
// container written straight from the text (what dumps uses) is byte for
// byte the document path's outcome, also just below its exact size. The same
// text given as code points (Latin-1, UCS-2, UCS-4 units, the way a Python
// str holds it) plans exactly as its UTF-8 form; surrogates, which the input
// spells as UTF-8 would if it allowed them, have no UTF-8 form and are
// declined. The raw bytes are also read as Latin-1 text.
//
// fuzz-seeds: tests/data/json-test-suite/test_parsing

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "compile/compile_json.hpp"
#include "dumps/json_container.hpp"
#include "encode/encoder.hpp"
#include "format/utf8.hpp"
#include "json/json_reader.hpp"

namespace {

using namespace vesk;

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "invariant broken: %s: %s\n", what, detail.c_str());
    std::abort();
}

void check(bool holds, const char* what, const std::string& detail = {}) {
    if (!holds) fail(what, detail);
}

bool is_writer_limit(const std::string& message) {
    std::string_view text = message;
    return text.starts_with("Too many definitions (") || text == "Field name too long" ||
           text == "String exceeds maximum inline length (16 777 215 bytes)" || text.starts_with("Array has ") ||
           (text.starts_with("Object #") && text.find(" fields (max ") != std::string_view::npos) ||
           text.starts_with("Container exceeds ");
}

// Each value's variant is the type its definition declares, every array item
// has the array's element type and every object one value per field.
void check_value(const VeskDocument& document, const VeskData& value, VeskType declared) {
    check(value.type() == declared, "value of another type than declared", std::string(type_name(declared)));
    if (value.kind == VeskDataKind::StrRef) {
        check(value.str_ref_index() < document.dict.size(), "dictionary reference out of range");
    }
    if (value.kind != VeskDataKind::Array && value.kind != VeskDataKind::Object) return;
    check(value.self_def_index < document.definitions.size(), "definition out of range");
    const VeskDefinition& definition = document.definitions[value.self_def_index];
    check(definition.kind == value.type(), "definition of another kind");
    if (value.kind == VeskDataKind::Array) {
        check(definition.elem_type.has_value(), "array definition without element type");
        for (const VeskData& item : value.items()) check_value(document, item, *definition.elem_type);
        return;
    }
    check(definition.fields.has_value() && definition.fields->size() == value.values().size(),
          "object values do not match the fields");
    for (std::size_t i = 0; i < value.values().size(); ++i) {
        check_value(document, value.values()[i], (*definition.fields)[i].type);
    }
}

std::string outcome_of(const Result<ByteBuffer>& bytes) {
    if (!bytes) return "error: " + bytes.error().message();
    return std::string(bytes->begin(), bytes->end());
}

}  // namespace

// The direct path against the document path: the same bytes or the same
// error, and where the container fits exactly, one byte less declines.
void check_direct_path(std::string_view text) {
    const Result<ByteBuffer> expected = compile_json_document_container(text);
    check(outcome_of(compile_json_container(text)) == outcome_of(expected), "direct path differs");
    std::optional<JsonContainer> planned = JsonContainer::plan(text);
    if (!planned) return;
    check(expected.has_value() && planned->size() == expected->size(), "plan taken where the document path differs");
    // Text the document path takes is well-formed UTF-8, which dumps vouches for.
    std::optional<JsonContainer> trusting = JsonContainer::plan(text, kMaxContainerSize, KnownUtf8::Yes);
    check(trusting.has_value(), "plan for well-formed text declined");
    ByteBuffer written(trusting->size());
    trusting->write(written);
    check(written == *expected, "plan for well-formed text differs");
    check(!JsonContainer::plan(text, planned->size() - 1), "plan ignores the size ceiling");
    check(outcome_of(compile_json_container(text, planned->size() - 1)) ==
              outcome_of(compile_json_document_container(text, planned->size() - 1)),
          "direct path differs below the ceiling");
}

bool is_surrogate(char32_t code_point) { return code_point >= 0xD800 && code_point <= 0xDFFF; }

template <class Unit>
void check_code_point_plan(const std::vector<char32_t>& code_points) {
    const std::vector<Unit> units(code_points.begin(), code_points.end());
    std::optional<JsonContainer> planned = JsonContainer::plan(CodePointText(std::span<const Unit>(units)));
    std::string utf8;
    for (const char32_t code_point : code_points) {
        if (is_surrogate(code_point)) {
            check(!planned, "code-point text with a surrogate planned");
            return;
        }
        append_utf8(utf8, code_point);
    }
    std::optional<JsonContainer> expected = JsonContainer::plan(utf8, kMaxContainerSize, KnownUtf8::Yes);
    check(planned.has_value() == expected.has_value(), "code-point plan declines otherwise than the UTF-8 plan");
    if (!planned) return;
    check(planned->size() == expected->size(), "code-point plan differs in size");
    ByteBuffer written(planned->size());
    planned->write(written);
    ByteBuffer reference(expected->size());
    expected->write(reference);
    check(written == reference, "code-point plan differs");
}

// The code points of the input, if it is UTF-8 with surrogates allowed.
std::optional<std::vector<char32_t>> decode_code_points(const std::uint8_t* p, const std::uint8_t* end) {
    std::vector<char32_t> code_points;
    while (p != end) {
        if (*p < 0x80) {
            code_points.push_back(*p++);
            continue;
        }
        std::size_t width = read_utf8_sequence(p, end).width;
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

void check_code_point_plans(const std::uint8_t* data, std::size_t size) {
    check_code_point_plan<std::uint8_t>(std::vector<char32_t>(data, data + size));
    const std::optional<std::vector<char32_t>> code_points = decode_code_points(data, data + size);
    if (!code_points) return;
    char32_t widest = 0;
    for (const char32_t code_point : *code_points) widest = std::max(widest, code_point);
    if (widest < 0x100) check_code_point_plan<std::uint8_t>(*code_points);
    if (widest < 0x10000) check_code_point_plan<std::uint16_t>(*code_points);
    check_code_point_plan<std::uint32_t>(*code_points);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    check_direct_path(text);
    check_code_point_plans(data, size);
    Result<JsonValue> tree = parse_json(text);
    Result<VeskDocument> document = compile_json_str(text);
    if (!tree) {
        check(!document, "refused text compiled");
        check(document.error().kind() == VeskErrorKind::Parse, "refused text gives another error kind");
        check(document.error().message() == tree.error().message(), "reader error changed",
              document.error().message());
        return 0;
    }
    if (!document) {
        check(document.error().kind() == VeskErrorKind::UnsupportedType &&
                  document.error().message().starts_with("array item "),
              "accepted text failed to compile", document.error().formatted());
        Result<VeskDocument> again = compile_json_str(text);
        check(!again && again.error().message() == document.error().message(), "second compilation differs");
        return 0;
    }

    check(document->chunks.size() == 1, "not exactly one chunk");
    const VeskChunk& chunk = document->chunks[0];
    for (std::size_t i = 0; i < document->definitions.size() && i <= 0xFFFF; ++i) {
        check(document->definitions[i].index == i, "definition index differs from its position");
    }
    if (chunk.data.kind == VeskDataKind::Array || chunk.data.kind == VeskDataKind::Object) {
        check(chunk.def_index == chunk.data.self_def_index, "chunk names another definition");
    } else {
        check(chunk.def_index == type_byte(chunk.data.type()), "chunk names another definition");
    }
    if (document->definitions.size() <= 0xFFFF) check_value(*document, chunk.data, document->definitions[chunk.def_index].kind);

    Result<ByteBuffer> bytes = encode_document(*document);
    if (!bytes) check(is_writer_limit(bytes.error().message()), "document not written", bytes.error().message());

    Result<VeskDocument> again = compile_json_str(text);
    check(again.has_value(), "second compilation failed");
    check(outcome_of(encode_document(*again)) == outcome_of(bytes), "second compilation encodes differently");
    return 0;
}

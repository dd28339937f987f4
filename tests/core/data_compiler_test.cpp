#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "compile/data_compiler.hpp"

namespace vesk {
namespace {

// Trees as the Python conversion makes them: indices 0, strings inline,
// objects holding alternating keys and values.
VeskData I(std::int32_t value) { return VeskData::int32(value); }
VeskData S(std::string text) { return VeskData::string(std::move(text)); }
VeskData A(std::vector<VeskData> items) { return VeskData::array(0, 0, std::move(items)); }
VeskData O(std::vector<VeskData> values) { return VeskData::object(0, std::move(values)); }

std::string describe_definition(const VeskDefinition& definition) {
    std::string out = std::to_string(definition.index) + ":" + std::string(format::type_name(definition.kind));
    if (definition.elem_type) out += "<" + std::string(format::type_name(*definition.elem_type)) + ">";
    if (definition.fields) {
        out += "{";
        for (const VeskField& field : *definition.fields) {
            out += field.name + "=" + std::string(format::type_name(field.type)) + ";";
        }
        out += "}";
    }
    return out;
}

// The shape definitions only; the six primitive ones are checked separately.
std::vector<std::string> describe_shapes(const std::vector<VeskDefinition>& definitions) {
    std::vector<std::string> out;
    for (std::size_t i = 6; i < definitions.size(); ++i) out.push_back(describe_definition(definitions[i]));
    return out;
}

// Compact text of a compiled tree: "[self/elem ...]", "{self ...}", "s" for
// inline strings, "r" for dictionary references, "i" for Int32.
std::string describe_value(const VeskData& value) {
    switch (value.kind) {
        case VeskDataKind::Array: {
            std::string out = "[" + std::to_string(value.self_def_index) + "/" + std::to_string(value.elem_def_index);
            for (const VeskData& item : value.items()) out += " " + describe_value(item);
            return out + "]";
        }
        case VeskDataKind::Object: {
            std::string out = "{" + std::to_string(value.self_def_index);
            for (const VeskData& item : value.values()) out += " " + describe_value(item);
            return out + "}";
        }
        case VeskDataKind::String: return "s" + value.text;
        case VeskDataKind::StrRef: return "r" + std::to_string(value.str_ref_index());
        case VeskDataKind::Int32: return "i" + std::to_string(value.as_int32());
        case VeskDataKind::Bool: return value.as_bool() ? "true" : "false";
        case VeskDataKind::Float32: return "f" + std::to_string(value.as_float32());
        default: return "?";
    }
}

template <class Map>
std::vector<std::string> sorted_keys(const Map& map) {
    std::vector<std::string> keys;
    for (const auto& [key, index] : map) keys.push_back(key + "=" + std::to_string(index));
    std::sort(keys.begin(), keys.end());
    return keys;
}

struct CompileCase {
    const char* name;
    VeskData tree;
    std::vector<std::string> shapes;
    std::vector<std::string> dict;
    std::uint16_t root_def_index;
    std::string compiled;
    std::vector<std::string> shape_keys;  // "key=index", sorted
};

std::vector<CompileCase> compile_cases() {
    std::vector<CompileCase> cases;
    cases.push_back({"int_root", I(5), {}, {}, 2, "i5", {}});
    cases.push_back({"bool_root", VeskData::boolean(true), {}, {}, 1, "true", {}});
    cases.push_back({"float_root", VeskData::float32(1.5f), {}, {}, 4, "f1.500000", {}});
    cases.push_back({"string_root", S("x"), {}, {"x"}, 5, "sx", {}});
    cases.push_back({"int_list",
                     A({I(1), I(2), I(3)}),
                     {"6:Array<Int32>"},
                     {},
                     6,
                     "[6/6 i1 i2 i3]",
                     {"arr:0:2=6"}});
    cases.push_back({"single_item_dict",
                     O({S("a"), I(1)}),
                     {"6:Object{f0=String;f1=Int32;}"},
                     {"a"},
                     6,
                     "{6 sa i1}",
                     {"obj:0:5,2=6"}});
    cases.push_back({"dicts_of_one_shape_share_a_definition",
                     A({O({S("a"), I(1), S("b"), I(2)}), O({S("x"), I(3), S("y"), I(4)})}),
                     {"6:Array<Object>", "7:Object{f0=String;f1=Int32;f2=String;f3=Int32;}"},
                     {"a", "b", "x", "y"},
                     6,
                     "[6/6 {7 sa i1 sb i2} {7 sx i3 sy i4}]",
                     {"arr:0:17=6", "obj:0:5,2,5,2=7"}});
    cases.push_back({"dict_in_dict_numbers_the_inner_first",
                     O({S("o"), O({S("k"), I(1)})}),
                     {"6:Object{f0=String;f1=Int32;}", "7:Object{f0=String;f1=Object;}"},
                     {"o", "k"},
                     7,
                     "{7 so {6 sk i1}}",
                     {"obj:0:5,2=6", "obj:0:5,7=7"}});
    cases.push_back({"list_in_dict_numbers_the_list_first",
                     O({S("l"), A({I(1)})}),
                     {"6:Array<Int32>", "7:Object{f0=String;f1=Array;}"},
                     {"l"},
                     7,
                     "{7 sl [6/6 i1]}",
                     {"arr:0:2=6", "obj:0:5,6=7"}});
    cases.push_back({"nested_lists_number_outer_before_inner",
                     A({A({I(1)}), A({S("x")})}),
                     {"6:Array<Array>", "7:Array<Int32>", "8:Array<String>"},
                     {"x"},
                     6,
                     "[6/6 [7/7 i1] [8/8 sx]]",
                     {"arr:0:16=6", "arr:0:2=7", "arr:0:5=8"}});
    cases.push_back({"empty_list", A({}), {"6:Array<Null>"}, {}, 6, "[6/6]", {"arr:0:0=6"}});
    cases.push_back({"empty_dict", O({}), {"6:Object{}"}, {}, 6, "{6}", {"obj:0:=6"}});
    cases.push_back({"repeated_strings_stay_inline",
                     A({S("a"), S("a"), S("b")}),
                     {"6:Array<String>"},
                     {"a", "b"},
                     6,
                     "[6/6 sa sa sb]",
                     {"arr:0:5=6"}});
    cases.push_back({"dictionary_is_depth_first_key_before_value",
                     O({S("k"), A({S("v"), S("k")}), S("z"), S("v")}),
                     {"6:Array<String>", "7:Object{f0=String;f1=Array;f2=String;f3=String;}"},
                     {"k", "v", "z"},
                     7,
                     "{7 sk [6/6 sv sk] sz sv}",
                     {"arr:0:5=6", "obj:0:5,6,5,5=7"}});
    cases.push_back({"array_shape_follows_the_first_item_only",
                     A({A({I(1), I(2)}), A({I(3)}), A({})}),
                     {"6:Array<Array>", "7:Array<Int32>", "8:Array<Null>"},
                     {},
                     6,
                     "[6/6 [7/7 i1 i2] [7/7 i3] [8/8]]",
                     {"arr:0:0=8", "arr:0:16=6", "arr:0:2=7"}});
    cases.push_back({"object_shape_ignores_key_texts_but_not_value_count",
                     A({O({S("a"), I(1)}), O({S("b"), I(2)}), O({S("a"), I(1), S("a"), I(1)})}),
                     {"6:Array<Object>", "7:Object{f0=String;f1=Int32;}",
                      "8:Object{f0=String;f1=Int32;f2=String;f3=Int32;}"},
                     {"a", "b"},
                     6,
                     "[6/6 {7 sa i1} {7 sb i2} {8 sa i1 sa i1}]",
                     {"arr:0:17=6", "obj:0:5,2,5,2=8", "obj:0:5,2=7"}});
    cases.push_back({"dictionary_reference_counts_as_a_string",
                     O({S("a"), VeskData::str_ref(3)}),
                     {"6:Object{f0=String;f1=String;}"},
                     {"a"},
                     6,
                     "{6 sa r3}",
                     {"obj:0:5,5=6"}});
    cases.push_back({"key_keeps_the_input_self_index",
                     A({VeskData::array(3, 0, {I(1)}), A({I(1)})}),
                     {"6:Array<Array>", "7:Array<Int32>", "8:Array<Int32>"},
                     {},
                     6,
                     "[6/6 [7/7 i1] [8/8 i1]]",
                     {"arr:0:16=6", "arr:0:2=8", "arr:3:2=7"}});
    return cases;
}

TEST(DataCompilerTest, NumbersShapesAndStringsInWalkOrder) {
    for (CompileCase& c : compile_cases()) {
        SCOPED_TRACE(c.name);
        DataCompiler compiler;
        compiler.walk(c.tree);
        EXPECT_EQ(describe_shapes(compiler.definitions), c.shapes);
        EXPECT_EQ(compiler.dict, c.dict);
        EXPECT_EQ(compiler.next_def_index, 6 + c.shapes.size());
        std::vector<std::string> keys = sorted_keys(compiler.array_shapes);
        for (std::string& key : sorted_keys(compiler.object_shapes)) keys.push_back(std::move(key));
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys, c.shape_keys);
        for (std::size_t i = 0; i < compiler.dict.size(); ++i) {
            EXPECT_EQ(compiler.dict_index.at(compiler.dict[i]), i) << compiler.dict[i];
        }
        EXPECT_EQ(compiler.dict_index.size(), compiler.dict.size());

        VeskData compiled = compiler.rewrite_indices(std::move(c.tree));
        EXPECT_EQ(describe_value(compiled), c.compiled);
        EXPECT_EQ(definition_number(compiled), c.root_def_index);
    }
}

TEST(DataCompilerTest, DocumentHoldsDefinitionsDictionaryAndOneChunk) {
    for (CompileCase& c : compile_cases()) {
        SCOPED_TRACE(c.name);
        VeskDocument document = compile_data_document(std::move(c.tree));
        EXPECT_EQ(document.version, 1);
        EXPECT_EQ(document.def_block_offset, 13u);
        ASSERT_GE(document.definitions.size(), 6u);
        for (std::size_t i = 0; i < document.definitions.size(); ++i) {
            EXPECT_EQ(document.definitions[i].index, i);
            if (i < 6) {
                EXPECT_EQ(describe_definition(document.definitions[i]),
                          describe_definition(VeskDefinition::primitive(static_cast<format::VeskType>(i))));
            }
        }
        EXPECT_EQ(describe_shapes(document.definitions), c.shapes);
        EXPECT_EQ(document.dict, c.dict);
        ASSERT_EQ(document.chunks.size(), 1u);
        EXPECT_EQ(document.chunks[0].def_index, c.root_def_index);
        EXPECT_EQ(describe_value(document.chunks[0].data), c.compiled);
    }
}

TEST(DataCompilerTest, FieldNamesCountPastTenInDecimal) {
    std::vector<VeskData> values;
    for (int i = 0; i < 6; ++i) {
        std::string key(1, 'k');
        key += std::to_string(i);
        values.push_back(S(std::move(key)));
        values.push_back(VeskData::boolean(i % 2 == 0));
    }
    VeskDocument document = compile_data_document(O(std::move(values)));
    ASSERT_EQ(document.definitions.size(), 7u);
    const auto& fields = *document.definitions[6].fields;
    ASSERT_EQ(fields.size(), 12u);
    const std::pair<std::size_t, const char*> names[] = {{0, "f0"}, {9, "f9"}, {10, "f10"}, {11, "f11"}};
    for (auto [position, name] : names) EXPECT_EQ(fields[position].name, name);
    EXPECT_EQ(fields[10].type, format::VeskType::String);
    EXPECT_EQ(fields[11].type, format::VeskType::Bool);
}

TEST(DataCompilerTest, SameInputGivesSameDocument) {
    auto make = [] {
        return A({O({S("b"), A({S("x"), S("y")}), S("a"), O({})}), O({S("c"), A({})}), O({S("d"), A({I(1)})})});
    };
    VeskDocument first = compile_data_document(make());
    VeskDocument second = compile_data_document(make());
    ASSERT_EQ(first.definitions.size(), second.definitions.size());
    for (std::size_t i = 0; i < first.definitions.size(); ++i) {
        EXPECT_EQ(describe_definition(first.definitions[i]), describe_definition(second.definitions[i]));
    }
    EXPECT_EQ(first.dict, second.dict);
    EXPECT_EQ(describe_value(first.chunks[0].data), describe_value(second.chunks[0].data));
    EXPECT_EQ(describe_value(first.chunks[0].data), "[6/6 {9 sb [7/7 sx sy] sa {8}} {11 sc [10/10]} {11 sd [12/12 i1]}]");
}

TEST(DataCompilerTest, DeepNestingKeepsEveryLevelsIndex) {
    // A thousand nested single-item lists: one shape per distinct first-item
    // type, so two definitions, and every level named correctly.
    VeskData tree = I(7);
    for (int i = 0; i < 1000; ++i) tree = A({std::move(tree)});
    VeskDocument document = compile_data_document(std::move(tree));
    EXPECT_EQ(describe_shapes(document.definitions),
              (std::vector<std::string>{"6:Array<Array>", "7:Array<Int32>"}));
    const VeskData* level = &document.chunks[0].data;
    for (int depth = 1; depth < 1000; ++depth) {
        ASSERT_EQ(level->self_def_index, 6) << depth;
        level = &level->items()[0];
    }
    EXPECT_EQ(level->self_def_index, 7);
    EXPECT_EQ(level->items()[0].as_int32(), 7);
}

}  // namespace
}  // namespace vesk

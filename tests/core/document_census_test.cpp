#include <gtest/gtest.h>

#include "structure/document.hpp"
#include "structure/document_census.hpp"

namespace vesk {
namespace {

// Two entries: [{"k": "x"}, {"k": ref 0}] built from definitions 6 (object)
// and 7 (array of objects), and a bare Int32 root. Reference 9 lies beyond
// the dictionary and must be skipped, not counted out of bounds.
VeskDocument sample_document() {
    VeskDocument document;
    document.definitions = primitive_definitions();
    document.definitions.push_back(VeskDefinition::object(6, {{"k", VeskType::String}}));
    document.definitions.push_back(VeskDefinition::array(7, VeskType::Object));
    document.dict = {"shared", "unused"};
    std::vector<VeskData> items;
    items.push_back(VeskData::object(6, [] {
        std::vector<VeskData> values;
        values.push_back(VeskData::string("xyz"));
        return values;
    }()));
    items.push_back(VeskData::object(6, [] {
        std::vector<VeskData> values;
        values.push_back(VeskData::str_ref(0));
        return values;
    }()));
    items.push_back(VeskData::object(6, [] {
        std::vector<VeskData> values;
        values.push_back(VeskData::str_ref(9));
        return values;
    }()));
    document.chunks.push_back(VeskChunk{7, VeskData::array(7, 6, std::move(items))});
    document.chunks.push_back(VeskChunk{2, VeskData::int32(5)});
    return document;
}

TEST(DocumentCensusTest, CountsDefinitionUsesReferencesAndValues) {
    const DocumentCensus census = take_census(sample_document());
    EXPECT_EQ(census.definition_uses, (std::vector<std::uint64_t>{0, 0, 1, 0, 0, 0, 3, 1}));
    EXPECT_EQ(census.dictionary_uses, (std::vector<std::uint64_t>{1, 0}));
    EXPECT_EQ(census.values_by_kind, (std::array<std::uint64_t, 9>{0, 0, 1, 0, 0, 1, 2, 1, 3}));
    EXPECT_EQ(census.inline_string_bytes, 3u);
}

}  // namespace
}  // namespace vesk

#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "structure/document.hpp"

namespace vesk {

// What a document's data makes of its definitions and dictionary: the
// figures a person inspecting a container wants, gathered in one walk.
struct DocumentCensus {
    // By position in `definitions`: the arrays and objects built from each
    // definition, plus the entries whose def_index names it.
    std::vector<std::uint64_t> definition_uses;
    // By dictionary index: the StrRef values pointing at each string.
    std::vector<std::uint64_t> dictionary_uses;
    // By VeskDataKind, every value of every entry, containers included.
    std::array<std::uint64_t, 9> values_by_kind{};
    // UTF-8 bytes of the inline String values.
    std::uint64_t inline_string_bytes = 0;
};

// Walks every entry of a document. Indices beyond the definitions or the
// dictionary (possible only in documents that no reader accepted) are
// not counted.
DocumentCensus take_census(const VeskDocument& document);

}  // namespace vesk

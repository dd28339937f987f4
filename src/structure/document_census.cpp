#include "structure/document_census.hpp"

#include <cstddef>

namespace vesk {

namespace {

void count(std::vector<std::uint64_t>& uses, std::size_t index) {
    if (index < uses.size()) {
        ++uses[index];
    }
}

// Recursion depth follows the value nesting, which the reader caps.
void visit(const VeskData& value, DocumentCensus& census) {
    ++census.values_by_kind[static_cast<std::size_t>(value.kind)];
    switch (value.kind) {
        case VeskDataKind::Null:
        case VeskDataKind::Bool:
        case VeskDataKind::Int32:
        case VeskDataKind::Uint32:
        case VeskDataKind::Float32:
            return;
        case VeskDataKind::String:
            census.inline_string_bytes += value.text.size();
            return;
        case VeskDataKind::StrRef:
            count(census.dictionary_uses, value.str_ref_index());
            return;
        case VeskDataKind::Array:
        case VeskDataKind::Object:
            count(census.definition_uses, value.self_def_index);
            for (const VeskData& child : value.children) {
                visit(child, census);
            }
            return;
    }
}

}  // namespace

DocumentCensus take_census(const VeskDocument& document) {
    DocumentCensus census;
    census.definition_uses.assign(document.definitions.size(), 0);
    census.dictionary_uses.assign(document.dict.size(), 0);
    for (const VeskChunk& chunk : document.chunks) {
        const bool compound = chunk.data.kind == VeskDataKind::Array || chunk.data.kind == VeskDataKind::Object;
        if (!compound) {
            count(census.definition_uses, chunk.def_index);
        }
        visit(chunk.data, census);
    }
    return census;
}

}  // namespace vesk

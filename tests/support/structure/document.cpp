#include "structure/document.hpp"

namespace vesk {

std::vector<VeskDefinition> primitive_definitions() {
    std::vector<VeskDefinition> definitions;
    definitions.reserve(format::kPrimitiveDefinitionCount);
    for (format::VeskType type : {format::VeskType::Null, format::VeskType::Bool, format::VeskType::Int32, format::VeskType::Uint32,
                          format::VeskType::Float32, format::VeskType::String}) {
        definitions.push_back(VeskDefinition::primitive(type));
    }
    return definitions;
}

VeskDocument single_chunk_document(std::vector<VeskDefinition> definitions, std::vector<std::string> dict,
                                   VeskData root) {
    VeskDocument document;
    document.definitions = std::move(definitions);
    document.dict = std::move(dict);
    const std::uint16_t root_definition = definition_number(root);
    document.chunks.push_back(VeskChunk{root_definition, std::move(root)});
    return document;
}

}  // namespace vesk

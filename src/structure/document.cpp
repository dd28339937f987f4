#include "structure/document.hpp"

namespace vesk {

std::vector<VeskDefinition> primitive_definitions() {
    std::vector<VeskDefinition> definitions;
    definitions.reserve(kPrimitiveDefinitionCount);
    for (VeskType type : {VeskType::Null, VeskType::Bool, VeskType::Int32, VeskType::Uint32,
                          VeskType::Float32, VeskType::String}) {
        definitions.push_back(VeskDefinition::primitive(type));
    }
    return definitions;
}

}  // namespace vesk

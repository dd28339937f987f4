#include "compile/compile_json.hpp"

namespace vesk {

// Placeholder until the compiler lands.
Result<VeskDocument> compile_json_str(std::string_view) {
    return VeskError::parse("JSON compiler not built yet");
}

}  // namespace vesk

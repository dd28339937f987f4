#include "decompile/decompiler.hpp"

namespace vesk {

// Placeholder until the decompiler lands.
Result<JsonValue> decompile_document(const VeskDocument&) {
    return VeskError::parse("decompiler not built yet");
}

}  // namespace vesk

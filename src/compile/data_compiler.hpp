#pragma once

#include "structure/document.hpp"

namespace vesk {

// Compiles a value tree made from a Python value (all index fields 0, strings
// inline) into a one-chunk document: walk, then rewrite_indices.
VeskDocument compile_data_document(const VeskData& root);

}  // namespace vesk

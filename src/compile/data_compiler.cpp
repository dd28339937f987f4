#include "compile/data_compiler.hpp"

namespace vesk {

// Placeholder until the data compiler lands.
VeskDocument compile_data_document(const VeskData&) { return VeskDocument{}; }

}  // namespace vesk

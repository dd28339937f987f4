#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "error/result.hpp"
#include "structure/document.hpp"

namespace vesk {

// Each reader takes exactly the bytes of its block; bytes left after the
// last record are ignored.
Result<std::vector<VeskDefinition>> read_definition_block(std::span<const std::uint8_t> block);
Result<std::vector<std::string>> read_dictionary_block(std::span<const std::uint8_t> block);
Result<std::vector<VeskChunk>> read_data_block(std::span<const std::uint8_t> block,
                                               const std::vector<VeskDefinition>& definitions);

}  // namespace vesk

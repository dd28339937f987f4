#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "error/result.hpp"
#include "structure/document.hpp"

namespace vesk::python {

// Creates or truncates `path` (mode 0666 before the umask) and writes all of
// `bytes` straight to the descriptor. Errors are of the I/O kind.
Status write_whole_file(std::string_view path, std::span<const std::uint8_t> bytes);

// Reads the whole file at `path`. Errors are of the I/O kind.
Result<ByteBuffer> read_whole_file(std::string_view path);

}  // namespace vesk::python

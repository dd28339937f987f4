#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <string_view>

#include "error/result.hpp"
#include "format/container_layout.hpp"

namespace vesk::python {

// Both functions below run their system calls without the interpreter lock
// and repeat those interrupted by a signal once its handlers have run; when a
// handler raises, they fail with its exception set. Report their failures
// with raise_file_error.

// Creates or truncates `path` (mode 0666 before the umask) and writes all of
// `bytes` straight to the descriptor, in place: a failure leaves the file
// truncated or partly written. Errors are of the I/O kind, a failing close
// included.
Status write_whole_file(std::string_view path, std::span<const std::uint8_t> bytes);

// Reads the whole file at `path`, which may not be larger than a container
// can be. Errors are of the I/O kind.
Result<format::ByteBuffer> read_whole_file(std::string_view path);

// The file layer's own faults that file objects share: more bytes than a
// container can hold, and a write that took none of what was left.
VeskError file_too_large();
VeskError incomplete_write();

}  // namespace vesk::python

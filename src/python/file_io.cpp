#include "python/file_io.hpp"

#include <Python.h>

#include <algorithm>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "format/format_limits.hpp"
#include "python/byte_chunks.hpp"
#include "python/system_file.hpp"

namespace vesk::python {

namespace {

// A C file name, or nothing when the path cannot be one.
std::optional<std::string> file_name(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(path);
}

VeskError nul_in_name() {
    return VeskError::io_message("file name contained an unexpected NUL byte");
}

VeskError out_of_memory() { return VeskError::io_message("out of memory"); }

// The failure to return once a signal handler has raised; io_to_py_err
// passes on the handler's exception instead.
VeskError handler_raised() { return VeskError::io_os(kHandlerRaised); }

// A call that moved some bytes before a signal came returns normally; the
// loops around reads and writes therefore run pending handlers themselves
// before blocking again.
Status write_all(SystemFile& file, std::span<const std::uint8_t> bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        if (written > 0 && PyErr_CheckSignals() < 0) {
            return handler_raised();
        }
        const SystemResult result = file.write(bytes.data() + written, bytes.size() - written);
        if (result.error != 0) {
            return VeskError::io_os(result.error);
        }
        if (result.count == 0) {
            return incomplete_write();
        }
        written += result.count;
    }
    return {};
}

// Reads into `target` until it is full or the file ends; the bytes read.
// `more` says that bytes came before, so that pending signal handlers run
// before the first read blocks.
Result<std::size_t> read_into(SystemFile& file, std::uint8_t* target, std::size_t capacity, bool more) {
    std::size_t used = 0;
    while (used < capacity) {
        if ((more || used > 0) && PyErr_CheckSignals() < 0) {
            return handler_raised();
        }
        const SystemResult result = file.read(target + used, capacity - used);
        if (result.error != 0) {
            return VeskError::io_os(result.error);
        }
        if (result.count == 0) {
            break;
        }
        used += result.count;
    }
    return used;
}

// Reads to end of file into `buffer`, whose size on entry is the expected
// file size (at most kMaxContainerSize), and sets its size to the bytes
// read. A file of exactly that size is read without allocating more: its
// end is confirmed by a small probe read. Bytes past it go into chunks.
Status read_all(SystemFile& file, format::ByteBuffer& buffer) {
    Result<std::size_t> first = read_into(file, buffer.data(), buffer.size(), false);
    if (!first.has_value()) {
        return std::move(first).error();
    }
    if (*first < buffer.size()) {
        buffer.resize(*first);
        return {};
    }
    std::uint8_t probe[8192];
    Result<std::size_t> probed = read_into(file, probe, sizeof probe, *first > 0);
    if (!probed.has_value()) {
        return std::move(probed).error();
    }
    if (*probed == 0) {
        return {};
    }
    try {
        ByteChunks chunks(std::move(buffer), format::kMaxContainerSize);
        chunks.append({probe, *probed});
        while (!chunks.past_limit()) {
            const std::span<std::uint8_t> room = chunks.room();
            Result<std::size_t> count = read_into(file, room.data(), room.size(), true);
            if (!count.has_value()) {
                return std::move(count).error();
            }
            chunks.commit(*count);
            if (*count < room.size()) {
                break;
            }
        }
        if (chunks.past_limit()) {
            return file_too_large();
        }
        buffer = chunks.join();
    } catch (const std::bad_alloc&) {
        return out_of_memory();
    }
    return {};
}

}  // namespace

// Offsets in a container are 32-bit, so no larger file can be one; reading on
// (from /dev/zero, say) would only end when memory does.
VeskError file_too_large() {
    return VeskError::io_message("file exceeds the container size limit (" + std::to_string(format::kMaxContainerSize) +
                                 " bytes)");
}

VeskError incomplete_write() { return VeskError::io_message("failed to write whole buffer"); }

Status write_whole_file(std::string_view path, std::span<const std::uint8_t> bytes) {
    const std::optional<std::string> name = file_name(path);
    if (!name) {
        return nul_in_name();
    }
    int error = 0;
    SystemFile file = SystemFile::open_for_writing(*name, error);
    if (!file.is_open()) {
        return VeskError::io_os(error);
    }
    if (Status written = write_all(file, bytes); !written) {
        return written;
    }
    if (const int close_error = file.close(); close_error != 0) {
        return VeskError::io_os(close_error);
    }
    return {};
}

Result<format::ByteBuffer> read_whole_file(std::string_view path) {
    const std::optional<std::string> name = file_name(path);
    if (!name) {
        return nul_in_name();
    }
    int error = 0;
    SystemFile file = SystemFile::open_for_reading(*name, error);
    if (!file.is_open()) {
        return VeskError::io_os(error);
    }
    format::ByteBuffer buffer;
    const SystemSize size = file.size();
    if (size.error == kHandlerRaised) {
        return handler_raised();
    }
    // Any other failure leaves the size unknown, and the reads find it.
    if (size.error == 0 && size.bytes > 0) {
        if (size.bytes > format::kMaxContainerSize) {
            return file_too_large();
        }
        try {
            buffer.resize(static_cast<std::size_t>(size.bytes));
        } catch (const std::bad_alloc&) {
            return out_of_memory();
        } catch (const std::length_error&) {
            return out_of_memory();
        }
    }
    Status read = read_all(file, buffer);
    // Nothing read can be lost at close, so its result does not matter.
    file.close();
    if (!read) {
        return std::move(read).error();
    }
    return buffer;
}

}  // namespace vesk::python

#include "python/file_io.hpp"

#include <Python.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "format/format_limits.hpp"
#include "python/errors.hpp"

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

// Runs one system call that may block (on a FIFO, a device, a network file
// system) without the interpreter lock, so that other threads go on
// meanwhile; the call touches no Python object. A call interrupted by a
// signal runs the interpreter's signal handlers, as Python's own file
// functions do, and is repeated unless one of them raised: then the call's
// failure is returned with errno EINTR and the handler's exception set, which
// raise_file_error passes on.
//
// A call that moved some bytes before the signal came returns normally; the
// loops around reads and writes therefore run pending handlers themselves
// before blocking again.
template <class Call>
auto blocking_call(Call call) {
    for (;;) {
        PyThreadState* thread = PyEval_SaveThread();
        const auto result = call();
        const int error = errno;
        PyEval_RestoreThread(thread);
        if (result >= 0 || error != EINTR || PyErr_CheckSignals() < 0) {
            errno = error;
            return result;
        }
    }
}

// The failure to return once a signal handler has raised; raise_file_error
// passes on the handler's exception instead.
VeskError handler_raised() { return VeskError::io_os(EINTR); }

// Closes on every path. Only the close that ends a successful write is
// checked; on the other paths an earlier error is the one to report.
class Descriptor {
public:
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { close_now(); }

    int get() const noexcept { return fd_; }

    // The error number of a failed close, 0 otherwise. Some file systems
    // (network ones, those with quotas) report a failed write only here. An
    // interrupted close is no failure: Linux has released the descriptor
    // already, and closing again could close one another thread just opened.
    int close_now() noexcept {
        if (fd_ < 0) return 0;
        const int fd = fd_;
        fd_ = -1;
        PyThreadState* thread = PyEval_SaveThread();
        const int result = ::close(fd);
        const int error = errno;
        PyEval_RestoreThread(thread);
        return result < 0 && error != EINTR ? error : 0;
    }

private:
    int fd_;
};

Status write_all(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        if (written > 0 && PyErr_CheckSignals() < 0) {
            return handler_raised();
        }
        const ssize_t count =
            blocking_call([&] { return ::write(fd, bytes.data() + written, bytes.size() - written); });
        if (count < 0) {
            return VeskError::io_os(errno);
        }
        if (count == 0) {
            return incomplete_write();
        }
        written += static_cast<std::size_t>(count);
    }
    return {};
}

// One read into `target`. Returns the byte count (0 at end of file) or the
// error number as a negative value.
ssize_t read_some(int fd, std::uint8_t* target, std::size_t capacity) {
    const ssize_t count = blocking_call([&] { return ::read(fd, target, capacity); });
    return count < 0 ? -errno : count;
}

// Reads to end of file into `buffer`, whose size on entry is the expected
// file size (at most kMaxContainerSize). A file exactly that long is read
// without reallocating: the end is confirmed by a small probe read rather
// than by growing first.
Result<std::size_t> read_all(int fd, ByteBuffer& buffer) {
    std::size_t used = 0;
    for (;;) {
        if (used > 0 && PyErr_CheckSignals() < 0) {
            return handler_raised();
        }
        if (used < buffer.size()) {
            const ssize_t count = read_some(fd, buffer.data() + used, buffer.size() - used);
            if (count < 0) {
                return VeskError::io_os(static_cast<int>(-count));
            }
            if (count == 0) {
                return used;
            }
            used += static_cast<std::size_t>(count);
            continue;
        }
        std::uint8_t probe[8192];
        const ssize_t count = read_some(fd, probe, sizeof probe);
        if (count < 0) {
            return VeskError::io_os(static_cast<int>(-count));
        }
        if (count == 0) {
            return used;
        }
        if (static_cast<std::size_t>(count) > kMaxContainerSize - used) {
            return file_too_large();
        }
        try {
            buffer.resize(std::min(used + static_cast<std::size_t>(count) + used / 2, kMaxContainerSize));
        } catch (const std::bad_alloc&) {
            return out_of_memory();
        } catch (const std::length_error&) {
            return out_of_memory();
        }
        std::copy(probe, probe + count, buffer.begin() + static_cast<std::ptrdiff_t>(used));
        used += static_cast<std::size_t>(count);
    }
}

}  // namespace

// Offsets in a container are 32-bit, so no larger file can be one; reading on
// (from /dev/zero, say) would only end when memory does.
VeskError file_too_large() {
    return VeskError::io_message("file exceeds the container size limit (" + std::to_string(kMaxContainerSize) +
                                 " bytes)");
}

VeskError incomplete_write() { return VeskError::io_message("failed to write whole buffer"); }

Status write_whole_file(std::string_view path, std::span<const std::uint8_t> bytes) {
    const std::optional<std::string> name = file_name(path);
    if (!name) {
        return nul_in_name();
    }
    Descriptor file(
        blocking_call([&] { return ::open(name->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); }));
    if (file.get() < 0) {
        return VeskError::io_os(errno);
    }
    if (Status written = write_all(file.get(), bytes); !written) {
        return written;
    }
    if (const int error = file.close_now(); error != 0) {
        return VeskError::io_os(error);
    }
    return {};
}

Result<ByteBuffer> read_whole_file(std::string_view path) {
    const std::optional<std::string> name = file_name(path);
    if (!name) {
        return nul_in_name();
    }
    Descriptor file(blocking_call([&] { return ::open(name->c_str(), O_RDONLY | O_CLOEXEC); }));
    if (file.get() < 0) {
        return VeskError::io_os(errno);
    }
    ByteBuffer buffer;
    struct stat status {};
    const int stat_result = blocking_call([&] { return ::fstat(file.get(), &status); });
    if (stat_result < 0 && errno == EINTR) {
        return handler_raised();
    }
    if (stat_result == 0 && status.st_size > 0) {
        if (static_cast<std::uint64_t>(status.st_size) > kMaxContainerSize) {
            return file_too_large();
        }
        try {
            buffer.resize(static_cast<std::size_t>(status.st_size));
        } catch (const std::bad_alloc&) {
            return out_of_memory();
        } catch (const std::length_error&) {
            return out_of_memory();
        }
    }
    Result<std::size_t> length = read_all(file.get(), buffer);
    // Nothing read can be lost at close, so its result does not matter.
    file.close_now();
    if (!length.has_value()) {
        return std::move(length).error();
    }
    buffer.resize(*length);
    return buffer;
}

}  // namespace vesk::python

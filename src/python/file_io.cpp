#include "python/file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

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

// Closes on every path; a failing close has nothing useful to report.
class Descriptor {
public:
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { close_now(); }

    int get() const noexcept { return fd_; }
    void close_now() noexcept {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_;
};

Status write_all(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return VeskError::io_os(errno);
        }
        if (count == 0) {
            return VeskError::io_message("failed to write whole buffer");
        }
        written += static_cast<std::size_t>(count);
    }
    return {};
}

// One read into `target`, repeated while interrupted. Returns the byte count
// (0 at end of file) or the error number as a negative value.
ssize_t read_some(int fd, std::uint8_t* target, std::size_t capacity) {
    for (;;) {
        const ssize_t count = ::read(fd, target, capacity);
        if (count >= 0 || errno != EINTR) {
            return count < 0 ? -errno : count;
        }
    }
}

// Reads to end of file into `buffer`, whose size on entry is the expected
// file size. A file exactly that long is read without reallocating: the end
// is confirmed by a small probe read rather than by growing first.
Result<std::size_t> read_all(int fd, ByteBuffer& buffer) {
    std::size_t used = 0;
    for (;;) {
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
        try {
            buffer.resize(used + static_cast<std::size_t>(count) + used / 2);
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

Status write_whole_file(std::string_view path, std::span<const std::uint8_t> bytes) {
    const std::optional<std::string> name = file_name(path);
    if (!name) {
        return nul_in_name();
    }
    Descriptor file(::open(name->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (file.get() < 0) {
        return VeskError::io_os(errno);
    }
    return write_all(file.get(), bytes);
}

Result<ByteBuffer> read_whole_file(std::string_view path) {
    const std::optional<std::string> name = file_name(path);
    if (!name) {
        return nul_in_name();
    }
    Descriptor file(::open(name->c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        return VeskError::io_os(errno);
    }
    ByteBuffer buffer;
    struct stat status {};
    if (::fstat(file.get(), &status) == 0 && status.st_size > 0) {
        try {
            buffer.resize(static_cast<std::size_t>(status.st_size));
        } catch (const std::bad_alloc&) {
            return out_of_memory();
        } catch (const std::length_error&) {
            return out_of_memory();
        }
    }
    Result<std::size_t> length = read_all(file.get(), buffer);
    file.close_now();
    if (!length.has_value()) {
        return std::move(length).error();
    }
    buffer.resize(*length);
    return buffer;
}

}  // namespace vesk::python

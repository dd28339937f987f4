#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vesk::python {

// What one of SystemFile's calls gives: a count of bytes, or the number of
// the error that stopped it, in errno's numbering on every platform (0 for
// none). kHandlerRaised is the number when a signal handler raised: its
// exception is set, and io_to_py_err passes it on.
struct SystemResult {
    std::size_t count = 0;
    int error = 0;
};

// The size of a file, in bytes, or the number of the error.
struct SystemSize {
    std::uint64_t bytes = 0;
    int error = 0;
};

inline constexpr int kHandlerRaised = EINTR;

// One open file of the platform (system_file_posix.cpp or
// system_file_windows.cpp), closed when dropped. file_io.cpp keeps the rules
// of reading and writing; this keeps only the system calls. Each call runs
// without the interpreter lock, so that other threads go on while it waits,
// and touches no Python object. Where the platform has signals, a call that
// one interrupts runs the interpreter's signal handlers, as Python's own file
// functions do, and is repeated unless one of them raised.
class SystemFile {
public:
    // `name` is UTF-8 without a NUL. Reading opens an existing file; writing
    // creates or truncates one (mode 0666 before the umask where files have
    // modes). Neither is inherited by child processes.
    static SystemFile open_for_reading(const std::string& name, int& error);
    static SystemFile open_for_writing(const std::string& name, int& error);

    SystemFile(SystemFile&& other) noexcept : handle_(other.handle_) { other.handle_ = kClosed; }
    SystemFile& operator=(SystemFile&&) = delete;
    SystemFile(const SystemFile&) = delete;
    SystemFile& operator=(const SystemFile&) = delete;
    // Closes unchecked: on the paths that get here an earlier error is the one
    // to report, or nothing read can be lost.
    ~SystemFile() { close(); }

    bool is_open() const noexcept { return handle_ != kClosed; }

    // Up to `capacity` bytes; a count of 0 is the end of the file.
    SystemResult read(std::uint8_t* target, std::size_t capacity);
    // Up to `size` bytes, at least one unless it fails.
    SystemResult write(const std::uint8_t* bytes, std::size_t size);
    // The file's size where the system knows it; 0 (and no error) where it
    // does not, as for pipes and devices.
    SystemSize size();
    // The error number of a failed close, 0 otherwise. Some file systems
    // (network ones, those with quotas) report a failed write only here.
    int close() noexcept;

private:
    static constexpr std::intptr_t kClosed = -1;
    explicit SystemFile(std::intptr_t handle) noexcept : handle_(handle) {}

    std::intptr_t handle_;  // a descriptor, or a HANDLE on Windows
};

}  // namespace vesk::python

// SystemFile on POSIX systems: descriptors, and signals that interrupt calls.

#include <Python.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "python/system_file.hpp"

namespace vesk::python {

namespace {

// Runs one system call that may block (on a FIFO, a device, a network file
// system) without the interpreter lock. A call interrupted by a signal runs
// the interpreter's signal handlers and is repeated unless one of them
// raised: then the call's failure is returned with errno EINTR and the
// handler's exception set.
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

int descriptor(std::intptr_t handle) noexcept { return static_cast<int>(handle); }

}  // namespace

SystemFile SystemFile::open_for_reading(const std::string& name, int& error) {
    const int fd = blocking_call([&] { return ::open(name.c_str(), O_RDONLY | O_CLOEXEC); });
    error = fd < 0 ? errno : 0;
    return SystemFile(fd < 0 ? kClosed : fd);
}

SystemFile SystemFile::open_for_writing(const std::string& name, int& error) {
    const int fd =
        blocking_call([&] { return ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); });
    error = fd < 0 ? errno : 0;
    return SystemFile(fd < 0 ? kClosed : fd);
}

SystemResult SystemFile::read(std::uint8_t* target, std::size_t capacity) {
    const ssize_t count = blocking_call([&] { return ::read(descriptor(handle_), target, capacity); });
    if (count < 0) return {0, errno};
    return {static_cast<std::size_t>(count), 0};
}

SystemResult SystemFile::write(const std::uint8_t* bytes, std::size_t size) {
    const ssize_t count = blocking_call([&] { return ::write(descriptor(handle_), bytes, size); });
    if (count < 0) return {0, errno};
    return {static_cast<std::size_t>(count), 0};
}

SystemSize SystemFile::size() {
    struct stat status {};
    if (blocking_call([&] { return ::fstat(descriptor(handle_), &status); }) < 0) return {0, errno};
    // st_size means nothing for pipes and most devices, but is 0 for them.
    return {status.st_size > 0 ? static_cast<std::uint64_t>(status.st_size) : 0, 0};
}

// An interrupted close is no failure: Linux has released the descriptor
// already, and closing again could close one another thread just opened.
int SystemFile::close() noexcept {
    if (handle_ == kClosed) return 0;
    const int fd = descriptor(handle_);
    handle_ = kClosed;
    PyThreadState* thread = PyEval_SaveThread();
    const int result = ::close(fd);
    const int error = errno;
    PyEval_RestoreThread(thread);
    return result < 0 && error != EINTR ? error : 0;
}

}  // namespace vesk::python

// SystemFile on Windows: handles and wide-character names. Windows has no
// signals that interrupt a call; Ctrl-C is seen between calls, where the
// loops of file_io.cpp check for it.

#include <Python.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "python/system_file.hpp"

namespace vesk::python {

namespace {

// The errno of a Windows error, as the C runtime and Python map the common
// ones, so that FileError.errno means the same on every platform.
int errno_of(DWORD error) noexcept {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
        case ERROR_CURRENT_DIRECTORY:
        case ERROR_NETWORK_ACCESS_DENIED:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            return EPIPE;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_NOT_READY:
        case ERROR_CRC:
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
        case ERROR_GEN_FAILURE:
            return EIO;
        default:
            return EINVAL;
    }
}

int last_errno() noexcept { return errno_of(GetLastError()); }

HANDLE native(std::intptr_t handle) noexcept { return reinterpret_cast<HANDLE>(handle); }

// The name as UTF-16, or nothing when it is not UTF-8 (a bytes path).
bool wide_name(const std::string& name, std::wstring& wide) {
    if (name.empty()) return true;
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), static_cast<int>(name.size()),
                                         nullptr, 0);
    if (size <= 0) return false;
    wide.resize(static_cast<std::size_t>(size));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), static_cast<int>(name.size()),
                               wide.data(), size) == size;
}

// CreateFileW without the interpreter lock; a handle or kClosed.
std::intptr_t open_file(const std::string& name, DWORD access, DWORD disposition, int& error) {
    std::wstring wide;
    if (!wide_name(name, wide)) {
        error = EINVAL;
        return -1;
    }
    PyThreadState* thread = PyEval_SaveThread();
    // Shared like a file the C runtime opens, so that other programs may
    // read, write, rename or delete it meanwhile; not inherited.
    const HANDLE handle = CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    error = handle == INVALID_HANDLE_VALUE ? last_errno() : 0;
    PyEval_RestoreThread(thread);
    return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(handle);
}

// ReadFile and WriteFile take 32-bit counts.
constexpr std::size_t kLargestTransfer = 1u << 30;

}  // namespace

SystemFile SystemFile::open_for_reading(const std::string& name, int& error) {
    return SystemFile(open_file(name, GENERIC_READ, OPEN_EXISTING, error));
}

SystemFile SystemFile::open_for_writing(const std::string& name, int& error) {
    return SystemFile(open_file(name, GENERIC_WRITE, CREATE_ALWAYS, error));
}

SystemResult SystemFile::read(std::uint8_t* target, std::size_t capacity) {
    DWORD count = 0;
    PyThreadState* thread = PyEval_SaveThread();
    const BOOL done =
        ReadFile(native(handle_), target, static_cast<DWORD>(std::min(capacity, kLargestTransfer)), &count, nullptr);
    const DWORD error = done ? 0 : GetLastError();
    PyEval_RestoreThread(thread);
    // A pipe whose writer closed reads as the end of the file, as on POSIX.
    if (!done && error != ERROR_BROKEN_PIPE) return {0, errno_of(error)};
    return {done ? static_cast<std::size_t>(count) : 0, 0};
}

SystemResult SystemFile::write(const std::uint8_t* bytes, std::size_t size) {
    DWORD count = 0;
    PyThreadState* thread = PyEval_SaveThread();
    const BOOL done =
        WriteFile(native(handle_), bytes, static_cast<DWORD>(std::min(size, kLargestTransfer)), &count, nullptr);
    const DWORD error = done ? 0 : GetLastError();
    PyEval_RestoreThread(thread);
    if (!done) return {0, errno_of(error)};
    return {static_cast<std::size_t>(count), 0};
}

SystemSize SystemFile::size() {
    // Only disk files have a size; pipes and consoles report none.
    if (GetFileType(native(handle_)) != FILE_TYPE_DISK) return {0, 0};
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(native(handle_), &size)) return {0, last_errno()};
    return {size.QuadPart > 0 ? static_cast<std::uint64_t>(size.QuadPart) : 0, 0};
}

int SystemFile::close() noexcept {
    if (handle_ == kClosed) return 0;
    const HANDLE handle = native(handle_);
    handle_ = kClosed;
    PyThreadState* thread = PyEval_SaveThread();
    const BOOL done = CloseHandle(handle);
    const int error = done ? 0 : last_errno();
    PyEval_RestoreThread(thread);
    return error;
}

}  // namespace vesk::python

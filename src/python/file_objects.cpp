#include "python/file_objects.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "python/byte_chunks.hpp"
#include "python/errors.hpp"
#include "python/file_io.hpp"
#include "python/py_ref.hpp"
#include "format/format_limits.hpp"

namespace vesk::python {

namespace {

bool has_method(PyObject* object, const char* name) {
    return PyObject_HasAttrString(object, name) == 1;
}

// Reads grow their request from the first size to the last, so a short
// stream costs one small buffer and a long one few calls.
constexpr std::size_t kFirstRequest = 64 * 1024;
constexpr std::size_t kLastRequest = 8 * 1024 * 1024;

// A container is at most kMaxContainerSize bytes: one byte more than that,
// asked for and received, is enough to know the stream is too long.
std::size_t next_request(std::size_t request, std::size_t used) {
    return std::min(request, format::kMaxContainerSize + 1 - used);
}

PyObject* raise_blocking(const char* function) {
    return PyErr_Format(PyExc_BlockingIOError, "%s() cannot wait on a non-blocking file object with no data ready",
                        function);
}

// The reader keeps its first fault and every stream gets one of these.
class StreamReader {
public:
    StreamReader(PyObject* module, const char* function, PyObject* source)
        : module_(module), function_(function), source_(source) {}

    // readinto fills a bytearray of our own, copied out after each call: the
    // object may keep the memoryview it was given, which then points only at
    // that bytearray, never at memory this reader frees or moves.
    bool read_into() {
        PyRef method(PyObject_GetAttrString(source_, "readinto"));
        if (!method) return false;
        std::size_t request = kFirstRequest;
        for (;;) {
            request = next_request(request, chunks_.size());
            PyRef chunk(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(request)));
            if (!chunk) return false;
            PyRef view(PyMemoryView_FromObject(chunk.get()));
            if (!view) return false;
            PyRef result(PyObject_CallOneArg(method.get(), view.get()));
            if (!result) return false;
            if (result.get() == Py_None) {
                raise_blocking(function_);
                return false;
            }
            const Py_ssize_t count = PyLong_AsSsize_t(result.get());
            if (count == -1 && PyErr_Occurred()) return false;
            if (count < 0 || static_cast<std::size_t>(count) > request) {
                PyErr_Format(PyExc_OSError, "readinto() returned %zd, outside 0 to %zu", count, request);
                return false;
            }
            if (count == 0) return true;
            if (!take(PyByteArray_AS_STRING(chunk.get()), static_cast<std::size_t>(count))) return false;
            request = std::min(request * 2, kLastRequest);
        }
    }

    bool read() {
        PyRef method(PyObject_GetAttrString(source_, "read"));
        if (!method) return false;
        std::size_t request = kFirstRequest;
        for (;;) {
            request = next_request(request, chunks_.size());
            PyRef size(PyLong_FromSize_t(request));
            if (!size) return false;
            PyRef result(PyObject_CallOneArg(method.get(), size.get()));
            if (!result) return false;
            if (result.get() == Py_None) {
                raise_blocking(function_);
                return false;
            }
            Py_buffer view;
            if (!PyObject_CheckBuffer(result.get()) || PyObject_GetBuffer(result.get(), &view, PyBUF_SIMPLE) < 0) {
                PyErr_Clear();
                PyErr_Format(PyExc_TypeError, "%s() needs a binary file object: read() returned %.50s, not bytes",
                             function_, Py_TYPE(result.get())->tp_name);
                return false;
            }
            const std::size_t count = static_cast<std::size_t>(view.len);
            bool taken = true;
            if (count > 0) {
                try {
                    taken = take(view.buf, count);
                } catch (...) {
                    PyBuffer_Release(&view);
                    throw;
                }
            }
            PyBuffer_Release(&view);
            if (count == 0) return true;
            if (!taken) return false;
            // A read(size) may give more than asked; the limit still holds.
            request = std::min(request * 2, kLastRequest);
        }
    }

    format::ByteBuffer take_buffer() { return chunks_.join(); }

private:
    bool take(const void* data, std::size_t count) {
        if (count > format::kMaxContainerSize - chunks_.size()) {
            io_to_py_err(module_, file_too_large(), Py_None);
            return false;
        }
        chunks_.append({static_cast<const std::uint8_t*>(data), count});
        return true;
    }

    PyObject* module_;
    const char* function_;
    PyObject* source_;
    // Bytes in chunks: a stream up to the size limit never holds two copies.
    ByteChunks chunks_{format::ByteBuffer(), format::kMaxContainerSize};
};

}  // namespace

bool is_readable(PyObject* source) { return has_method(source, "readinto") || has_method(source, "read"); }

bool is_writable(PyObject* target) { return has_method(target, "write"); }

std::optional<format::ByteBuffer> read_file_object(PyObject* module, const char* function, PyObject* source) {
    StreamReader reader(module, function, source);
    const bool done = has_method(source, "readinto") ? reader.read_into() : reader.read();
    if (!done) return std::nullopt;
    return reader.take_buffer();
}

bool write_file_object(PyObject* module, PyObject* target, PyObject* bytes) {
    PyRef method(PyObject_GetAttrString(target, "write"));
    if (!method) return false;
    const std::size_t size = static_cast<std::size_t>(PyBytes_GET_SIZE(bytes));
    std::size_t written = 0;
    PyRef whole;
    while (written < size) {
        PyRef part;
        if (written == 0) {
            part = PyRef::borrow(bytes);
        } else {
            if (!whole) {
                whole = PyRef(PyMemoryView_FromObject(bytes));
                if (!whole) return false;
            }
            part = PyRef(PySequence_GetSlice(whole.get(), static_cast<Py_ssize_t>(written),
                                             static_cast<Py_ssize_t>(size)));
            if (!part) return false;
        }
        PyRef result(PyObject_CallOneArg(method.get(), part.get()));
        if (!result) return false;
        if (!PyLong_Check(result.get())) return true;
        const Py_ssize_t count = PyLong_AsSsize_t(result.get());
        if (count == -1 && PyErr_Occurred()) return false;
        const std::size_t left = size - written;
        if (count < 0 || static_cast<std::size_t>(count) > left) {
            PyErr_Format(PyExc_OSError, "write() returned %zd, outside 0 to %zu", count, left);
            return false;
        }
        if (count == 0) {
            io_to_py_err(module, incomplete_write(), Py_None);
            return false;
        }
        written += static_cast<std::size_t>(count);
    }
    return true;
}

}  // namespace vesk::python

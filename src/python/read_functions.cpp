#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "python/argument_views.hpp"
#include "python/arguments.hpp"
#include "python/container_to_py.hpp"
#include "python/errors.hpp"
#include "python/file_io.hpp"
#include "python/file_objects.hpp"
#include "python/functions.hpp"

namespace vesk::python {

namespace {

constexpr std::array<Param, 1> loads_params = {{{"bytes", ParamType::Buffer}}};
constexpr std::array<Param, 1> load_params = {{{"path", ParamType::Source}}};

}  // namespace

PyObject* loads_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_memory([&]() -> PyObject* {
        // A bytes object is read where it lies, without a buffer to take
        // and give back.
        if (PyObject* data = sole_positional(args, nargs, kwnames); data != nullptr && PyBytes_CheckExact(data)) {
            return container_to_py(module, bytes_of(data), ContainerBytes::Immutable);
        }
        std::array<PyObject*, 1> values{};
        if (!unpack_arguments("loads", loads_params, args, nargs, kwnames, values)) {
            return nullptr;
        }
        BufferView container;
        if (!container.take(values[0])) {
            return nullptr;
        }
        // Only an exact bytes object is sure to stay as it is while it is
        // read: a subclass may export other, writable memory (__buffer__).
        const ContainerBytes kind =
            PyBytes_CheckExact(values[0]) ? ContainerBytes::Immutable : ContainerBytes::Mutable;
        return container_to_py(module, container.bytes(), kind);
    });
}

PyObject* load_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_memory([&]() -> PyObject* {
        std::array<PyObject*, 1> values{};
        if (!unpack_arguments("load", load_params, args, nargs, kwnames, values)) {
            return nullptr;
        }
        if (!is_path_like(values[0])) {
            std::optional<format::ByteBuffer> container = read_file_object(module, "load", values[0]);
            if (!container) {
                return nullptr;
            }
            return container_to_py(module, *container, ContainerBytes::Immutable);
        }
        PathArgument path;
        if (!path.take(values[0])) {
            return nullptr;
        }
        Result<format::ByteBuffer> container = read_whole_file(path.name());
        if (!container.has_value()) {
            return io_to_py_err(module, container.error(), values[0]);
        }
        return container_to_py(module, *container, ContainerBytes::Immutable);
    });
}

}  // namespace vesk::python

#include <array>
#include <cstdint>
#include <span>

#include "decode/decoder.hpp"
#include "decompile/decompiler.hpp"
#include "python/argument_views.hpp"
#include "python/arguments.hpp"
#include "python/errors.hpp"
#include "python/file_io.hpp"
#include "python/functions.hpp"
#include "python/json_to_py.hpp"

namespace vesk::python {

namespace {

constexpr std::array<Param, 1> loads_params = {{{"bytes", ParamType::Buffer}}};
constexpr std::array<Param, 1> load_params = {{{"path", ParamType::Path}}};

// Container bytes to the value tree. The document is released before the
// caller builds Python objects, so both never peak together.
Result<JsonValue> container_to_tree(std::span<const std::uint8_t> container) {
    Result<VeskDocument> document = decode_document(container);
    if (!document.has_value()) {
        return std::move(document).error();
    }
    return decompile_document(*document);
}

PyObject* container_to_py(PyObject* module, std::span<const std::uint8_t> container) {
    Result<JsonValue> tree = container_to_tree(container);
    if (!tree.has_value()) {
        return to_py_err(module, tree.error());
    }
    return json_value_to_py(*tree).release();
}

}  // namespace

PyObject* loads_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_memory([&]() -> PyObject* {
        std::array<PyObject*, 1> values{};
        if (!unpack_arguments("loads", loads_params, args, nargs, kwnames, values)) {
            return nullptr;
        }
        BufferView container;
        if (!container.take(values[0])) {
            return nullptr;
        }
        return container_to_py(module, container.bytes());
    });
}

PyObject* load_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_memory([&]() -> PyObject* {
        std::array<PyObject*, 1> values{};
        if (!unpack_arguments("load", load_params, args, nargs, kwnames, values)) {
            return nullptr;
        }
        PathArgument path;
        if (!path.take(values[0])) {
            return nullptr;
        }
        Result<ByteBuffer> container = read_whole_file(path.name());
        if (!container.has_value()) {
            return io_to_py_err(module, container.error(), values[0]);
        }
        return container_to_py(module, *container);
    });
}

}  // namespace vesk::python

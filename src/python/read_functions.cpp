#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "decode/decoder.hpp"
#include "decompile/decompiler.hpp"
#include "python/arguments.hpp"
#include "python/errors.hpp"
#include "python/file_io.hpp"
#include "python/functions.hpp"
#include "python/json_to_py.hpp"
#include "python/text_argument.hpp"

namespace vesk::python {

namespace {

constexpr std::array<Param, 1> loads_params = {{{"bytes", ParamType::Bytes}}};
constexpr std::array<Param, 1> load_params = {{{"path", ParamType::Str}}};

// Container bytes to the value tree. The document is released before the
// caller builds Python objects, so both never peak together.
Result<JsonValue> container_to_tree(std::span<const std::uint8_t> container) {
    Result<VeskDocument> document = decode_document(container);
    if (!document.has_value()) {
        return std::move(document).error();
    }
    return decompile_document(*document);
}

PyObject* container_to_py(std::span<const std::uint8_t> container) {
    Result<JsonValue> tree = container_to_tree(container);
    if (!tree.has_value()) {
        return to_py_err(tree.error());
    }
    return json_value_to_py(*tree).release();
}

}  // namespace

PyObject* loads_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_memory([&]() -> PyObject* {
        std::array<PyObject*, 1> values{};
        if (!unpack_arguments("loads", loads_params, args, nargs, kwnames, values)) {
            return nullptr;
        }
        const char* data = PyBytes_AsString(values[0]);
        if (data == nullptr) {
            return nullptr;
        }
        const auto size = static_cast<std::size_t>(PyBytes_Size(values[0]));
        return container_to_py({reinterpret_cast<const std::uint8_t*>(data), size});
    });
}

PyObject* load_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_memory([&]() -> PyObject* {
        std::array<PyObject*, 1> values{};
        if (!unpack_arguments("load", load_params, args, nargs, kwnames, values)) {
            return nullptr;
        }
        const std::optional<std::string_view> path = utf8_view(values[0]);
        if (!path) {
            return nullptr;
        }
        Result<ByteBuffer> container = read_whole_file(*path);
        if (!container.has_value()) {
            return raise_file_error(container.error());
        }
        return container_to_py(*container);
    });
}

}  // namespace vesk::python

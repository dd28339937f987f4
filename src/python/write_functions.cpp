#include <array>
#include <optional>
#include <string_view>

#include "compile/compile_json.hpp"
#include "encode/encoder.hpp"
#include "python/arguments.hpp"
#include "python/errors.hpp"
#include "python/file_io.hpp"
#include "python/functions.hpp"
#include "python/text_argument.hpp"

namespace vesk::python {

namespace {

constexpr std::array<Param, 1> dumps_params = {{{"json_text", ParamType::Str}}};
constexpr std::array<Param, 2> dump_params = {{{"json_text", ParamType::Str}, {"path", ParamType::Str}}};

// JSON text to container bytes. The document dies here, before the caller
// allocates anything for the result.
Result<ByteBuffer> compile_to_container(std::string_view json_text) {
    Result<VeskDocument> document = compile_json_str(json_text);
    if (!document.has_value()) {
        return std::move(document).error();
    }
    return encode_document(*document);
}

}  // namespace

PyObject* dumps_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_memory([&]() -> PyObject* {
        std::array<PyObject*, 1> values{};
        if (!unpack_arguments("dumps", dumps_params, args, nargs, kwnames, values)) {
            return nullptr;
        }
        const std::optional<std::string_view> json_text = utf8_view(values[0]);
        if (!json_text) {
            return nullptr;
        }
        Result<ByteBuffer> container = compile_to_container(*json_text);
        if (!container.has_value()) {
            return to_py_err(container.error());
        }
        return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(container->data()),
                                         static_cast<Py_ssize_t>(container->size()));
    });
}

PyObject* dump_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_memory([&]() -> PyObject* {
        std::array<PyObject*, 2> values{};
        if (!unpack_arguments("dump", dump_params, args, nargs, kwnames, values)) {
            return nullptr;
        }
        const std::optional<std::string_view> json_text = utf8_view(values[0]);
        if (!json_text) {
            return nullptr;
        }
        const std::optional<std::string_view> path = utf8_view(values[1]);
        if (!path) {
            return nullptr;
        }
        // Compile and encode first: text that does not compile must leave an
        // existing file as it was.
        Result<ByteBuffer> container = compile_to_container(*json_text);
        if (!container.has_value()) {
            return to_py_err(container.error());
        }
        const Status written = write_whole_file(*path, *container);
        if (!written.has_value()) {
            return raise_file_error(written.error());
        }
        Py_RETURN_NONE;
    });
}

}  // namespace vesk::python

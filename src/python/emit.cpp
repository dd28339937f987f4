#include "python/emit.hpp"

#include <array>
#include <optional>
#include <utility>

#include "compile/data_compiler.hpp"
#include "encode/encoder.hpp"
#include "python/arguments.hpp"
#include "python/errors.hpp"
#include "python/functions.hpp"
#include "python/py_ref.hpp"
#include "python/py_to_vesk.hpp"

namespace vesk::python {

namespace {

constexpr std::array<Param, 1> emit_params = {{{"obj", ParamType::Any}}};

// Compiles and encodes a converted tree, releasing the tree and the document
// before the bytes are handed back.
Result<ByteBuffer> compile_and_encode(VeskData tree) {
    const VeskDocument document = compile_data_document(std::move(tree));
    return encode_document(document);
}

}  // namespace

PyObject* emit_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_memory([&]() -> PyObject* {
        std::array<PyObject*, 1> values{};
        if (!unpack_arguments("emit", emit_params, args, nargs, kwnames, values)) {
            return nullptr;
        }
        std::optional<VeskData> tree = py_to_vesk_data(module, values[0]);
        if (!tree) return nullptr;
        Result<ByteBuffer> bytes = compile_and_encode(std::move(*tree));
        tree.reset();
        if (!bytes) return to_py_err(module, bytes.error());
        return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes->data()),
                                         static_cast<Py_ssize_t>(bytes->size()));
    });
}

int add_emit_members(PyObject* module) {
    PyRef fault(PyErr_NewExceptionWithDoc(
        "vesk.InternalFault",
        "Raised by emit when a dict is changed while it is being converted, by code that the conversion "
        "itself ran (an __index__ or __float__ method). Derives from BaseException: it reports a fault of "
        "the calling program, not bad data.",
        PyExc_BaseException, nullptr));
    if (!fault) return -1;
    return PyModule_AddObjectRef(module, kInternalFaultAttribute, fault.get());
}

}  // namespace vesk::python

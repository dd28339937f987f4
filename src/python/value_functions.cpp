#include <array>

#include "python/arguments.hpp"
#include "python/errors.hpp"
#include "python/functions.hpp"
#include "python/py_to_tape.hpp"
#include "python/py_to_vesk.hpp"

namespace vesk::python {

namespace {

constexpr std::array<Param, 2> emit_params = {{{"obj", ParamType::Any},
                                               {"strict", ParamType::Any, ParamKind::KeywordOnly}}};
constexpr std::array<Param, 2> pack_params = {{{"obj", ParamType::Any},
                                               {"strict", ParamType::Any, ParamKind::KeywordOnly}}};

}  // namespace

PyObject* emit_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_memory([&]() -> PyObject* {
        if (PyObject* obj = sole_positional(args, nargs, kwnames)) {
            return emit_container(module, obj, false);
        }
        std::array<PyObject*, 2> values{};
        bool strict = false;
        if (!unpack_arguments("emit", emit_params, args, nargs, kwnames, values) || !take_flag(values[1], strict)) {
            return nullptr;
        }
        return emit_container(module, values[0], strict);
    });
}

PyObject* pack_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_memory([&]() -> PyObject* {
        if (PyObject* obj = sole_positional(args, nargs, kwnames)) {
            return pack_container(module, obj, false);
        }
        std::array<PyObject*, 2> values{};
        bool strict = false;
        if (!unpack_arguments("pack", pack_params, args, nargs, kwnames, values) || !take_flag(values[1], strict)) {
            return nullptr;
        }
        return pack_container(module, values[0], strict);
    });
}

}  // namespace vesk::python

#include <array>
#include <cstring>
#include <optional>

#include "loads/container_to_json.hpp"
#include "python/argument_views.hpp"
#include "python/arguments.hpp"
#include "python/errors.hpp"
#include "python/functions.hpp"
#include "python/memory_guard.hpp"
#include "python/memory_refusal.hpp"
#include "python/released_gil.hpp"

namespace vesk::python {

namespace {

constexpr std::array<Param, 3> to_json_params = {{
    {"data", ParamType::Buffer},
    {"indent", ParamType::Any, ParamKind::KeywordOnly},
    {"allow_nan", ParamType::Any, ParamKind::KeywordOnly},
}};

// Deeper indentation than this makes lines of no use to a reader, and with
// 128 levels of nesting a line's spaces alone would pass a megabyte.
constexpr long kMaxIndent = 1024;

// indent: None (or absent) for one line, else an int from 0 to kMaxIndent.
bool take_indent(PyObject* value, loads::JsonTextLayout& layout) {
    if (value == nullptr || value == Py_None) return true;
    if (!PyLong_Check(value) || PyBool_Check(value)) {
        PyErr_Format(PyExc_TypeError, "to_json() argument 'indent' must be None or int, not %.50s",
                     Py_TYPE(value)->tp_name);
        return false;
    }
    int overflow = 0;
    const long spaces = PyLong_AsLongAndOverflow(value, &overflow);
    if (spaces == -1 && PyErr_Occurred()) return false;
    if (overflow != 0 || spaces < 0 || spaces > kMaxIndent) {
        PyErr_Format(PyExc_ValueError, "to_json() argument 'indent' must be from 0 to %ld, not %R", kMaxIndent, value);
        return false;
    }
    layout.indent = static_cast<std::uint32_t>(spaces);
    return true;
}

// The text as a str: ASCII text is copied into a str of that kind at once,
// other text decoded (it is valid UTF-8).
PyObject* make_str(const loads::ContainerJson& json) {
    const auto size = static_cast<Py_ssize_t>(json.text.size());
    if (!json.ascii) return PyUnicode_DecodeUTF8(json.text.data(), size, nullptr);
    PyObject* text = PyUnicode_New(size, 127);
    if (text != nullptr && size > 0) std::memcpy(PyUnicode_DATA(text), json.text.data(), json.text.size());
    return text;
}

}  // namespace

PyObject* to_json_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_memory([&]() -> PyObject* {
        std::array<PyObject*, 3> values{};
        if (!unpack_arguments("to_json", to_json_params, args, nargs, kwnames, values)) return nullptr;
        loads::JsonTextLayout layout;
        if (!take_indent(values[1], layout)) return nullptr;
        if (values[2] != nullptr) {
            const int allow = PyObject_IsTrue(values[2]);
            if (allow < 0) return nullptr;
            layout.allow_nan = allow == 1;
        }
        BufferView container;
        if (!container.take(values[0])) return nullptr;
        // No Python code runs while the text is written, so a mutable buffer
        // is read in place as long as the lock is held; only the bytes of an
        // exact bytes object can be read without it (a subclass's __buffer__
        // may export memory that another thread changes meanwhile).
        const bool release = PyBytes_CheckExact(values[0]) && container.bytes().size() >= kReleaseLockFrom;
        // The scan's tables are sized before they are made, as loads sizes them.
        MemoryGuard guard(container.bytes().size());
        std::uint64_t tables = 0;
        if (guard.refuses_tables(container.bytes(), tables)) return nullptr;
        std::optional<loads::ContainerJsonWriter> writer;
        {
            ReleasedGil released(release);
            writer.emplace(container.bytes());
        }
        if (refuse_beyond_memory(writer->least_text_bytes(), "the JSON text of this container")) return nullptr;
        std::optional<Result<loads::ContainerJson>> json;
        {
            ReleasedGil released(release);
            json.emplace(writer->write(layout));
        }
        if (!json->has_value()) return to_py_err(module, json->error());
        return make_str(**json);
    });
}

}  // namespace vesk::python

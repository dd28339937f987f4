#include <array>
#include <memory>
#include <optional>
#include <span>

#include "dumps/json_container.hpp"
#include "python/argument_views.hpp"
#include "python/arguments.hpp"
#include "python/errors.hpp"
#include "python/file_io.hpp"
#include "python/file_objects.hpp"
#include "python/functions.hpp"
#include "python/json_text.hpp"
#include "python/module_state.hpp"
#include "python/py_ref.hpp"
#include "python/released_gil.hpp"

namespace vesk::python {

namespace {

constexpr std::array<Param, 2> dumps_params = {{{"json_text", ParamType::Str},
                                                {"strict", ParamType::Any, ParamKind::KeywordOnly}}};
constexpr std::array<Param, 3> dump_params = {{{"json_text", ParamType::Str},
                                               {"path", ParamType::Target},
                                               {"strict", ParamType::Any, ParamKind::KeywordOnly}}};

// JSON text to container bytes, written into the memory that
// `allocate(size)` returns (nullptr with an exception set when it cannot).
// The text lies in an immutable str, which lives as long as the caller's
// reference, so the interpreter lock is released while it is read and while
// the container is written; `allocate` runs with the lock held.
// What becomes of numbers that would not read back as written: stored as
// they narrow (counted or not), or the first refuses the text (strict).
enum class Losses { Stored, Counted, Refused };

// `losses` says what to do with numbers that would not read back as
// written; `found` receives them when they are counted or refuse the text
// (LossError), which they do before anything is allocated.
// Returns false with an exception set on failure.
template <class Allocate>
bool compile_to_container(PyObject* module, JsonText& json_text, Losses losses, dumps::NumberLosses& found,
                          Allocate&& allocate) {
    const bool release = json_text.size() >= kReleaseLockFrom;
    // The memory of the call before's tables, held while the container lives.
    const ReusedObject<dumps::PartsRoom>::Loan room = module_state(module)->parts_room.borrow();
    std::optional<Result<dumps::JsonContainer>> compiled;
    {
        ReleasedGil released(release);
        compiled.emplace(json_text.compile(&*room));
        if (losses != Losses::Stored && compiled->has_value()) {
            found = (*compiled)->number_losses(losses == Losses::Counted);
        }
    }
    if (!compiled->has_value()) {
        // A text with no UTF-8 form is the interpreter's to report, before
        // whatever else is wrong with it.
        if (json_text.check()) to_py_err(module, compiled->error());
        return false;
    }
    if (losses == Losses::Refused && found.first) {
        to_py_err(module, *found.first);
        return false;
    }
    dumps::JsonContainer& container = **compiled;
    std::uint8_t* out = allocate(container.size());
    if (out == nullptr) {
        return false;
    }
    ReleasedGil released(release);
    container.write(std::span<std::uint8_t>(out, container.size()));
    return true;
}

// A new bytes object of `size` bytes in `bytes`, or nullptr with an exception set.
std::uint8_t* new_bytes(PyRef& bytes, std::size_t size) {
    bytes = PyRef(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
    return bytes ? reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes.get())) : nullptr;
}

Losses losses_for(bool strict) { return strict ? Losses::Refused : Losses::Stored; }

}  // namespace

PyObject* dumps_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_memory([&]() -> PyObject* {
        std::array<PyObject*, 2> values{sole_positional(args, nargs, kwnames)};
        bool strict = false;
        const bool usual = values[0] != nullptr && PyUnicode_Check(values[0]);
        if (!usual &&
            (!unpack_arguments("dumps", dumps_params, args, nargs, kwnames, values) || !take_flag(values[1], strict))) {
            return nullptr;
        }
        JsonText json_text;
        if (!json_text.take(values[0])) {
            return nullptr;
        }
        PyRef bytes;
        dumps::NumberLosses found;
        const bool compiled = compile_to_container(module, json_text, losses_for(strict), found,
                                                   [&bytes](std::size_t size) { return new_bytes(bytes, size); });
        return compiled ? bytes.release() : nullptr;
    });
}

PyObject* dump_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_memory([&]() -> PyObject* {
        std::array<PyObject*, 3> values{};
        bool strict = false;
        if (!unpack_arguments("dump", dump_params, args, nargs, kwnames, values) || !take_flag(values[2], strict)) {
            return nullptr;
        }
        // The text's own error comes before any of the path's.
        JsonText json_text;
        if (!json_text.take(values[0]) || !json_text.check()) {
            return nullptr;
        }
        if (!is_path_like(values[1])) {
            // A file object gets the container as dumps returns it, once the
            // text has compiled.
            PyRef bytes;
            dumps::NumberLosses found;
            if (!compile_to_container(module, json_text, losses_for(strict), found,
                                      [&bytes](std::size_t size) { return new_bytes(bytes, size); }) ||
                !write_file_object(module, values[1], bytes.get())) {
                return nullptr;
            }
            Py_RETURN_NONE;
        }
        PathArgument path;
        if (!path.take(values[1])) {
            return nullptr;
        }
        // Compile and encode first: text that does not compile must leave an
        // existing file as it was.
        std::unique_ptr<std::uint8_t[]> buffer;
        std::size_t size = 0;
        dumps::NumberLosses found;
        const bool compiled = compile_to_container(module, json_text, losses_for(strict), found,
                                                   [&](std::size_t needed) {
            buffer = std::make_unique_for_overwrite<std::uint8_t[]>(needed);
            size = needed;
            return buffer.get();
        });
        if (!compiled) {
            return nullptr;
        }
        const Status written = write_whole_file(path.name(), std::span<const std::uint8_t>(buffer.get(), size));
        if (!written.has_value()) {
            return io_to_py_err(module, written.error(), values[1]);
        }
        Py_RETURN_NONE;
    });
}

}  // namespace vesk::python

namespace vesk::python {

PyObject* dumps_counting_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_memory([&]() -> PyObject* {
        std::array<PyObject*, 1> values{};
        if (!unpack_arguments("_dumps_counting", std::span(dumps_params).first<1>(), args, nargs, kwnames, values)) {
            return nullptr;
        }
        JsonText json_text;
        if (!json_text.take(values[0])) {
            return nullptr;
        }
        PyRef bytes;
        dumps::NumberLosses found;
        if (!compile_to_container(module, json_text, Losses::Counted, found,
                                  [&bytes](std::size_t size) { return new_bytes(bytes, size); })) {
            return nullptr;
        }
        PyRef first = found.first ? PyRef(PyUnicode_DecodeUTF8(found.first->path().data(),
                                                                static_cast<Py_ssize_t>(found.first->path().size()),
                                                                "replace"))
                                  : PyRef::borrow(Py_None);
        if (!first) {
            return nullptr;
        }
        return Py_BuildValue("(OnO)", bytes.get(), static_cast<Py_ssize_t>(found.count), first.get());
    });
}

}  // namespace vesk::python

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "loads/container_scan.hpp"
#include "python/argument_views.hpp"
#include "python/arguments.hpp"
#include "python/errors.hpp"
#include "python/functions.hpp"
#include "python/memory_guard.hpp"
#include "python/py_ref.hpp"
#include "format/container_layout.hpp"

namespace vesk::python {

namespace {

constexpr std::array<Param, 1> describe_params = {{{"bytes", ParamType::Buffer}}};

PyRef text(std::span<const std::uint8_t> container, std::uint32_t offset, std::uint32_t length) {
    return PyRef(PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(container.data()) + offset,
                                      static_cast<Py_ssize_t>(length), nullptr));
}

PyRef type_text(format::VeskType type) {
    const std::string_view name = format::type_name(type);
    return PyRef(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
}

// Stores `value` under `key`, taking over the reference; false on failure.
bool put(PyObject* dict, const char* key, PyRef value) {
    return value && PyDict_SetItemString(dict, key, value.get()) == 0;
}

bool append(PyObject* list, PyRef item) { return item && PyList_Append(list, item.get()) == 0; }

class Description {
public:
    Description(std::span<const std::uint8_t> container, const loads::ContainerScan& scan, const loads::ScanCensus& census)
        : container_(container), scan_(scan), census_(census) {}

    PyRef make() const {
        PyRef result(PyDict_New());
        const bool ok =
            result && put(result.get(), "version", PyRef(PyLong_FromLong(scan_.version))) &&
            put(result.get(), "size", PyRef(PyLong_FromSize_t(container_.size()))) &&
            put(result.get(), "header_size", PyRef(PyLong_FromSize_t(format::kHeaderSize))) &&
            put(result.get(), "offsets",
                PyRef(Py_BuildValue("{sIsIsI}", "definitions", scan_.def_block_offset, "dictionary",
                                    scan_.dict_block_offset, "data", scan_.data_block_offset))) &&
            put(result.get(), "definitions", definitions()) && put(result.get(), "dictionary", dictionary()) &&
            put(result.get(), "entries", PyRef(PyLong_FromUnsignedLong(scan_.entries))) &&
            put(result.get(), "values", values()) &&
            put(result.get(), "inline_string_bytes", PyRef(PyLong_FromUnsignedLongLong(scan_.counts.inline_bytes))) &&
            put(result.get(), "loads_memory", loads_memory());
        return ok ? std::move(result) : PyRef();
    }

private:
    // What loads takes to read it, as its memory guard sizes it: the scan's
    // tables and the value; None for a container loads refuses.
    PyRef loads_memory() const {
        if (scan_.fault()) return PyRef::borrow(Py_None);
        return PyRef(PyLong_FromUnsignedLongLong(loads::scan_table_bytes(container_) +
                                                 MemoryGuard::value_bytes(container_, scan_)));
    }

    PyRef fields(const loads::ScanDefinition& definition) const {
        PyRef list(PyList_New(0));
        if (!list) return list;
        for (std::uint32_t k = 0; k < definition.field_count; ++k) {
            const loads::ScanField& field = scan_.fields[definition.first_field + k];
            PyRef name = text(container_, field.name_offset, field.name_length);
            PyRef type = type_text(field.type);
            if (!name || !type || !append(list.get(), PyRef(PyTuple_Pack(2, name.get(), type.get())))) return PyRef();
        }
        return list;
    }

    PyRef definition(std::size_t position) const {
        const loads::ScanDefinition& definition = scan_.definitions[position];
        PyRef dict(PyDict_New());
        const bool is_array = definition.kind == format::VeskType::Array;
        const bool is_object = definition.kind == format::VeskType::Object;
        const bool ok = dict && put(dict.get(), "index", PyRef(PyLong_FromLong(definition.index))) &&
                        put(dict.get(), "kind", type_text(definition.kind)) &&
                        put(dict.get(), "uses", PyRef(PyLong_FromUnsignedLongLong(census_.definition_uses[position]))) &&
                        put(dict.get(), "elem_type", is_array ? type_text(definition.elem_type) : PyRef::borrow(Py_None)) &&
                        put(dict.get(), "fields", is_object ? fields(definition) : PyRef::borrow(Py_None));
        return ok ? std::move(dict) : PyRef();
    }

    PyRef definitions() const {
        PyRef list(PyList_New(0));
        for (std::size_t position = 0; list && position < scan_.definitions.size(); ++position) {
            if (!append(list.get(), definition(position))) return PyRef();
        }
        return list;
    }

    PyRef dictionary() const {
        PyRef list(PyList_New(0));
        for (std::size_t i = 0; list && i < scan_.dict.size(); ++i) {
            PyRef string = text(container_, scan_.dict[i].offset, scan_.dict[i].length);
            PyRef entry(string ? Py_BuildValue("(OK)", string.get(),
                                               static_cast<unsigned long long>(census_.dictionary_uses[i]))
                               : nullptr);
            if (!append(list.get(), std::move(entry))) return PyRef();
        }
        return list;
    }

    // By type, in the order of the type bytes, dictionary references after
    // the inline strings.
    PyRef values() const {
        PyRef dict(PyDict_New());
        for (unsigned byte = 0; dict && byte <= 0xFF; ++byte) {
            if (!format::is_vesk_type_byte(static_cast<std::uint8_t>(byte))) continue;
            const format::VeskType type = static_cast<format::VeskType>(byte);
            const std::uint64_t count = census_.values_by_type[format::type_index(type)];
            if (!put(dict.get(), format::type_name(type).data(), PyRef(PyLong_FromUnsignedLongLong(count)))) return PyRef();
            if (type == format::VeskType::String &&
                !put(dict.get(), "StrRef", PyRef(PyLong_FromUnsignedLongLong(census_.references)))) {
                return PyRef();
            }
        }
        return dict;
    }

    std::span<const std::uint8_t> container_;
    const loads::ContainerScan& scan_;
    const loads::ScanCensus& census_;
};

}  // namespace

PyObject* describe_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_memory([&]() -> PyObject* {
        std::array<PyObject*, 1> values{};
        if (!unpack_arguments("_describe", describe_params, args, nargs, kwnames, values)) {
            return nullptr;
        }
        BufferView container;
        if (!container.take(values[0])) {
            return nullptr;
        }
        // The reader's rules alone: what the data means is loads' concern.
        loads::ScanCensus census;
        const loads::ContainerScan scan = loads::scan_container(container.bytes(), census);
        if (scan.reader_fault) return to_py_err(module, VeskError::parse(loads::describe_read_fault(*scan.reader_fault)));
        return Description(container.bytes(), scan, census).make().release();
    });
}

}  // namespace vesk::python

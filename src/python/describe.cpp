#include <array>
#include <cstdint>
#include <string>

#include "decode/decoder.hpp"
#include "python/argument_views.hpp"
#include "python/arguments.hpp"
#include "python/errors.hpp"
#include "python/functions.hpp"
#include "python/py_ref.hpp"
#include "structure/document_census.hpp"

namespace vesk::python {

namespace {

constexpr std::array<Param, 1> describe_params = {{{"bytes", ParamType::Buffer}}};

constexpr std::array<const char*, 9> kind_names = {"Null",    "Bool",   "Int32", "Uint32", "Float32",
                                                   "String", "StrRef", "Array", "Object"};

PyRef text(const std::string& value) {
    return PyRef(PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), "replace"));
}

PyRef type_text(VeskType type) {
    const std::string_view name = type_name(type);
    return PyRef(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
}

// Stores `value` under `key`, taking over the reference; false on failure.
bool put(PyObject* dict, const char* key, PyRef value) {
    return value && PyDict_SetItemString(dict, key, value.get()) == 0;
}

bool append(PyObject* list, PyRef item) { return item && PyList_Append(list, item.get()) == 0; }

PyRef fields_list(const std::vector<VeskField>& fields) {
    PyRef list(PyList_New(0));
    if (!list) return list;
    for (const VeskField& field : fields) {
        PyRef name = text(field.name);
        PyRef type = type_text(field.type);
        if (!name || !type || !append(list.get(), PyRef(PyTuple_Pack(2, name.get(), type.get())))) return PyRef();
    }
    return list;
}

PyRef definition_dict(const VeskDefinition& definition, std::uint64_t uses) {
    PyRef dict(PyDict_New());
    if (!dict || !put(dict.get(), "index", PyRef(PyLong_FromLong(definition.index))) ||
        !put(dict.get(), "kind", type_text(definition.kind)) ||
        !put(dict.get(), "uses", PyRef(PyLong_FromUnsignedLongLong(uses)))) {
        return PyRef();
    }
    const bool elem_ok = definition.elem_type ? put(dict.get(), "elem_type", type_text(*definition.elem_type))
                                              : put(dict.get(), "elem_type", PyRef::borrow(Py_None));
    const bool fields_ok = definition.fields ? put(dict.get(), "fields", fields_list(*definition.fields))
                                             : put(dict.get(), "fields", PyRef::borrow(Py_None));
    if (!elem_ok || !fields_ok) return PyRef();
    return dict;
}

PyRef describe(const VeskDocument& document, std::size_t size) {
    const DocumentCensus census = take_census(document);
    PyRef result(PyDict_New());
    PyRef definitions(PyList_New(0));
    PyRef dictionary(PyList_New(0));
    PyRef values(PyDict_New());
    if (!result || !definitions || !dictionary || !values) return PyRef();
    for (std::size_t i = 0; i < document.definitions.size(); ++i) {
        if (!append(definitions.get(), definition_dict(document.definitions[i], census.definition_uses[i]))) {
            return PyRef();
        }
    }
    for (std::size_t i = 0; i < document.dict.size(); ++i) {
        PyRef entry(Py_BuildValue("(NK)", text(document.dict[i]).release(),
                                  static_cast<unsigned long long>(census.dictionary_uses[i])));
        if (!append(dictionary.get(), std::move(entry))) return PyRef();
    }
    for (std::size_t kind = 0; kind < kind_names.size(); ++kind) {
        PyRef count(PyLong_FromUnsignedLongLong(census.values_by_kind[kind]));
        if (!put(values.get(), kind_names[kind], std::move(count))) return PyRef();
    }
    const bool ok =
        put(result.get(), "version", PyRef(PyLong_FromLong(document.version))) &&
        put(result.get(), "size", PyRef(PyLong_FromSize_t(size))) &&
        put(result.get(), "offsets",
            PyRef(Py_BuildValue("{sIsIsI}", "definitions", document.def_block_offset, "dictionary",
                                document.dict_block_offset, "data", document.data_block_offset))) &&
        put(result.get(), "definitions", std::move(definitions)) &&
        put(result.get(), "dictionary", std::move(dictionary)) &&
        put(result.get(), "entries", PyRef(PyLong_FromSize_t(document.chunks.size()))) &&
        put(result.get(), "values", std::move(values)) &&
        put(result.get(), "inline_string_bytes", PyRef(PyLong_FromUnsignedLongLong(census.inline_string_bytes)));
    return ok ? std::move(result) : PyRef();
}

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
        Result<VeskDocument> document = decode_document(container.bytes());
        if (!document.has_value()) {
            return to_py_err(module, document.error());
        }
        return describe(*document, container.bytes().size()).release();
    });
}

}  // namespace vesk::python

#include "python/object_builder.hpp"

#include <cstring>

#include "loads/utf8_fault.hpp"

namespace vesk::python {

namespace {

void release_all(std::vector<PyObject*>& objects) {
    for (PyObject* object : objects) Py_XDECREF(object);
    objects.clear();
}

// The str of UTF-8 text, or nullptr with the codec's error set. ASCII text,
// most text, is copied into a str made at its size, without the layers of
// the codec's decoder; below two bytes the decoder gives the interpreter's
// shared strs.
PyObject* new_str(const std::uint8_t* data, std::size_t size) {
    if (size > 1 && loads::ascii_run_end(data, size, 0) == size) {
        PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(size), 127);
        if (str != nullptr) std::memcpy(PyUnicode_1BYTE_DATA(str), data, size);
        return str;
    }
    return PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(data), static_cast<Py_ssize_t>(size), nullptr);
}

}  // namespace

ObjectBuilder::ObjectBuilder(std::span<const std::uint8_t> container, const loads::ContainerScan& scan,
                             BuilderTables& tables, KeyCache& keys)
    : container_(container), scan_(scan), numbers_(scan.counts.numbers), tables_(tables), key_cache_(keys) {
    tables_.keys.assign(scan.fields.size(), nullptr);
    tables_.strings.assign(scan.dict.size(), nullptr);
    tables_.keys_made.assign(scan.definitions.size(), 0);
    tables_.untracked.reserve(scan.counts.arrays + scan.counts.objects + 1);
}

ObjectBuilder::~ObjectBuilder() {
    // A walk that failed leaves its containers untracked; they go untracked.
    release_all(tables_.untracked);
    release_all(tables_.keys);
    release_all(tables_.strings);
    tables_.keys_made.clear();
}

bool ObjectBuilder::text(const std::uint8_t* data, std::size_t size, PyRef& out) {
    out = PyRef(new_str(data, size));
    if (out) return true;
    // Not UTF-8: worded by the validator the scan uses for every other
    // text. Anything else (no memory) stays raised.
    if (PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) note_text_fault(data, size);
    return false;
}

void ObjectBuilder::note_text_fault(const std::uint8_t* data, std::size_t size) {
    PyErr_Clear();
    loads::ReadFault fault;
    loads::find_text_fault(std::span(data, size), loads::TextPlace::Value, static_cast<std::size_t>(data - container_.data()), fault);
    text_fault_ = fault;
}

bool ObjectBuilder::make_dict_string(std::uint32_t index) {
    const loads::ScanText& text = scan_.dict[index];
    PyObject*& made = tables_.strings[index];
    made = new_str(container_.data() + text.offset, text.length);
    return made != nullptr;
}

bool ObjectBuilder::make_keys(const loads::ScanDefinition& definition) {
    for (std::uint32_t k = 0; k < definition.field_count; ++k) {
        const std::uint32_t number = definition.key_field + k;
        // Definitions numbered out of place may share the fields that name their keys.
        std::vector<PyObject*>& keys = tables_.keys;
        if (keys[number] != nullptr) continue;
        const loads::ScanField& field = scan_.fields[number];
        // A name met before, in this definition or another, shares its str.
        PyObject*& first = keys[field.first_of_name];
        if (first == nullptr) {
            first = key_cache_.key(
                {reinterpret_cast<const char*>(container_.data()) + field.name_offset, field.name_length});
            if (first == nullptr) return false;
        }
        if (number != field.first_of_name) {
            Py_INCREF(first);
            keys[number] = first;
        }
    }
    return true;
}

bool ObjectBuilder::begin_dict(std::uint32_t position, PyRef& dict) {
    const loads::ScanDefinition& definition = scan_.definitions[position];
    if (!tables_.keys_made[position]) {
        if (!make_keys(definition)) return false;
        tables_.keys_made[position] = 1;
    }
    // Small dicts come from the interpreter's free list; larger ones get
    // their final table at once instead of growing through several.
    const std::uint32_t members = definition.member_count;
    dict = PyRef(members > 5 ? _PyDict_NewPresized(members) : PyDict_New());
    return static_cast<bool>(dict);
}

}  // namespace vesk::python

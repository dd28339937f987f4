#include "python/errors.hpp"

#include <bit>
#include <new>
#include <optional>
#include <string>

#include "python/module_state.hpp"
#include "python/py_ref.hpp"

namespace vesk::python {

namespace {

ErrorClasses* classes_of(PyObject* module) {
    ModuleState* state = module_state(module);
    return state != nullptr ? &state->errors : nullptr;
}

PyRef new_class(const char* qualified_name, const char* doc, PyObject* base, PyObject* attributes) {
    return PyRef(PyErr_NewExceptionWithDoc(qualified_name, doc, base, attributes));
}

int publish(PyObject* module, const char* name, const PyRef& cls) {
    return PyModule_AddObjectRef(module, name, cls.get());
}

// Messages may quote bytes from the input; never let a stray byte turn the
// error into a UnicodeDecodeError.
PyRef message_text(const std::string& message) {
    return PyRef(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
}

// The class for `kind`, or ValueError when the module has none (a module
// object that never finished executing).
PyObject* class_for(PyObject* module, VeskErrorKind kind) {
    ErrorClasses* classes = classes_of(module);
    if (classes == nullptr) {
        PyErr_Clear();
        return PyExc_ValueError;
    }
    PyObject* cls = nullptr;
    switch (kind) {
        case VeskErrorKind::Parse:
            cls = classes->parse.get();
            break;
        case VeskErrorKind::UnsupportedType:
            cls = classes->unsupported_type.get();
            break;
        case VeskErrorKind::Io:
            cls = classes->file.get();
            break;
        case VeskErrorKind::Loss:
            cls = classes->loss.get();
            break;
    }
    return cls != nullptr ? cls : PyExc_ValueError;
}

PyObject* raise_file_error(PyObject* cls, const std::string& message, int os_error, PyObject* filename) {
    PyRef text = message_text(message);
    if (!text) {
        return nullptr;
    }
    PyRef error(PyObject_CallOneArg(cls, text.get()));
    if (!error) {
        return nullptr;
    }
    PyRef number = os_error != 0 ? PyRef(PyLong_FromLong(os_error)) : PyRef::borrow(Py_None);
    if (!number || PyObject_SetAttrString(error.get(), "errno", number.get()) < 0) {
        return nullptr;
    }
    if (PyObject_SetAttrString(error.get(), "filename", filename != nullptr ? filename : Py_None) < 0) {
        return nullptr;
    }
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.get())), error.get());
    return nullptr;
}

// A number of a LossError as Python's own int or float.
PyRef number_object(const StoredNumber& number) {
    switch (number.kind) {
        case StoredNumber::Kind::Unsigned:
            return PyRef(PyLong_FromUnsignedLongLong(number.bits));
        case StoredNumber::Kind::Signed:
            return PyRef(PyLong_FromLongLong(static_cast<long long>(number.bits)));
        case StoredNumber::Kind::Float:
            return PyRef(PyFloat_FromDouble(std::bit_cast<double>(number.bits)));
    }
    return PyRef();
}

bool set_attribute(const PyRef& instance, const char* name, PyObject* value) {
    return PyObject_SetAttrString(instance.get(), name, value) == 0;
}

constexpr const char* base_doc =
    "Base class of every error of the codec. It derives from ValueError, so code that catches "
    "ValueError catches these too. path is the JSON path ($.a[3]) of the value refused, or None "
    "when the error is not about one value.";
constexpr const char* parse_doc =
    "JSON text or a VESK container was refused, or a document could not be written within the "
    "container's limits. str() of the error starts with 'Failed to parse VESK: '. For JSON text "
    "that is not JSON, line, column and pos (the bytes of UTF-8 text up to and including the "
    "offending byte) say where; they are None otherwise.";
constexpr const char* unsupported_type_doc =
    "The data holds something the format cannot store, such as an array whose items are of "
    "different types. str() of the error starts with 'Unsupported data type: '.";
constexpr const char* loss_doc =
    "A compile with strict=True met a value that would not read back as it was given: an integer "
    "that wraps or changes sign, one that a float array holds as a different float, a finite "
    "non-zero float that becomes infinite or zero. path is where, value the number given and "
    "stored what it would read back as. str() of the error starts with 'Value not kept: '.";
constexpr const char* file_doc =
    "dump or load could not write or read the file. str() of the error starts with 'IO error: '. "
    "errno holds the system's error number (None for the codec's own file faults, such as a NUL "
    "byte in the path) and filename the path as it was passed.";
constexpr const char* internal_fault_doc =
    "Raised by emit when a dict is changed while it is being converted, by code that the conversion "
    "itself ran (an __index__ or __float__ method). Derives from BaseException: it reports a fault of "
    "the calling program, not bad data.";

}  // namespace

int add_error_classes(PyObject* module) {
    ErrorClasses* classes = classes_of(module);
    if (classes == nullptr) {
        return -1;
    }
    PyRef base_attributes(Py_BuildValue("{sO}", "path", Py_None));
    if (!base_attributes) {
        return -1;
    }
    classes->base = new_class("vesk.VeskError", base_doc, PyExc_ValueError, base_attributes.get());
    if (!classes->base) {
        return -1;
    }
    PyRef parse_attributes(Py_BuildValue("{sOsOsO}", "line", Py_None, "column", Py_None, "pos", Py_None));
    PyRef loss_attributes(Py_BuildValue("{sOsO}", "value", Py_None, "stored", Py_None));
    if (!parse_attributes || !loss_attributes) {
        return -1;
    }
    classes->parse = new_class("vesk.ParseError", parse_doc, classes->base.get(), parse_attributes.get());
    classes->unsupported_type =
        new_class("vesk.UnsupportedTypeError", unsupported_type_doc, classes->base.get(), nullptr);
    classes->loss = new_class("vesk.LossError", loss_doc, classes->base.get(), loss_attributes.get());
    PyRef file_attributes(Py_BuildValue("{sOsO}", "errno", Py_None, "filename", Py_None));
    if (!classes->parse || !classes->unsupported_type || !classes->loss || !file_attributes) {
        return -1;
    }
    classes->file = new_class("vesk.FileError", file_doc, classes->base.get(), file_attributes.get());
    // Not a VeskError, nor any Exception: see raise_internal_fault.
    classes->internal_fault = new_class("vesk.InternalFault", internal_fault_doc, PyExc_BaseException, nullptr);
    if (!classes->file || !classes->internal_fault) {
        return -1;
    }
    if (publish(module, "VeskError", classes->base) < 0 || publish(module, "ParseError", classes->parse) < 0 ||
        publish(module, "UnsupportedTypeError", classes->unsupported_type) < 0 ||
        publish(module, "FileError", classes->file) < 0 || publish(module, "LossError", classes->loss) < 0 ||
        publish(module, "InternalFault", classes->internal_fault) < 0) {
        return -1;
    }
    return 0;
}

int visit_error_classes(PyObject* module, visitproc visit, void* arg) {
    ErrorClasses* classes = classes_of(module);
    if (classes == nullptr) {
        return 0;
    }
    Py_VISIT(classes->base.get());
    Py_VISIT(classes->parse.get());
    Py_VISIT(classes->unsupported_type.get());
    Py_VISIT(classes->file.get());
    Py_VISIT(classes->loss.get());
    Py_VISIT(classes->internal_fault.get());
    return 0;
}

void clear_error_classes(PyObject* module) {
    ErrorClasses* classes = classes_of(module);
    if (classes == nullptr) {
        return;
    }
    classes->internal_fault = PyRef();
    classes->loss = PyRef();
    classes->file = PyRef();
    classes->unsupported_type = PyRef();
    classes->parse = PyRef();
    classes->base = PyRef();
}

PyObject* to_py_err(PyObject* module, const VeskError& error) {
    PyObject* cls = class_for(module, error.kind());
    if (error.kind() == VeskErrorKind::Io) {
        return raise_file_error(cls, error.formatted(), error.os_error(), nullptr);
    }
    PyRef path = error.path().empty() ? PyRef::borrow(Py_None) : message_text(error.path());
    PyRef value;
    PyRef stored;
    PyRef text;
    if (error.kind() == VeskErrorKind::Loss) {
        value = number_object(error.change().written);
        stored = number_object(error.change().stored);
        if (!path || !value || !stored) {
            return nullptr;
        }
        text = PyRef(PyUnicode_FromFormat("Value not kept: %U is %R, stored as %R", path.get(), value.get(),
                                          stored.get()));
    } else {
        text = message_text(error.formatted());
    }
    if (!path || !text) {
        return nullptr;
    }
    PyRef instance(PyObject_CallOneArg(cls, text.get()));
    if (!instance || !set_attribute(instance, "path", path.get())) {
        return nullptr;
    }
    if (value && (!set_attribute(instance, "value", value.get()) || !set_attribute(instance, "stored", stored.get()))) {
        return nullptr;
    }
    if (const std::optional<TextPosition>& position = error.position()) {
        PyRef line(PyLong_FromSize_t(position->line));
        PyRef column(PyLong_FromSize_t(position->column));
        PyRef pos(PyLong_FromSize_t(position->pos));
        if (!line || !column || !pos || !set_attribute(instance, "line", line.get()) ||
            !set_attribute(instance, "column", column.get()) || !set_attribute(instance, "pos", pos.get())) {
            return nullptr;
        }
    }
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(instance.get())), instance.get());
    return nullptr;
}

PyObject* io_to_py_err(PyObject* module, const VeskError& error, PyObject* filename) {
    // A signal handler that raised while a file call waited: its exception
    // is the one to see, not the EINTR it ended.
    if (PyErr_Occurred()) {
        return nullptr;
    }
    return raise_file_error(class_for(module, VeskErrorKind::Io), "IO error: " + error.message(), error.os_error(),
                            filename);
}

void raise_internal_fault(PyObject* module, const char* message) {
    ErrorClasses* classes = classes_of(module);
    PyObject* cls = classes != nullptr ? classes->internal_fault.get() : nullptr;
    if (cls == nullptr) {
        PyErr_Clear();
        cls = PyExc_SystemError;
    }
    PyErr_SetString(cls, message);
}

}  // namespace vesk::python

#include <Python.h>

#include <array>
#include <new>

#include "format/format_limits.hpp"
#include "python/doc_text.hpp"
#include "python/errors.hpp"
#include "python/functions.hpp"
#include "python/module_state.hpp"
#include "python/py_ref.hpp"

namespace vesk::python {

namespace {

constexpr int fast_call_flags = METH_FASTCALL | METH_KEYWORDS;

template <auto Function>
PyCFunction as_cfunction() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Function));
}

// emit's docstring, which names its nesting limit.
constexpr auto emit_doc = joined_text(
    std::to_array(
     "emit(obj, *, strict=False)\n--\n\n"
     "Emit a Python value as VESK binary (no JSON string).\n"
     "\n"
     "obj: dict, list, str, bool, int or float, with at most "),
    decimal_text<format::kMaxEmitNesting>(),
    std::to_array(
     " levels of lists\n"
     "and dicts (None is not accepted; int subclasses and objects with\n"
     "__index__ or __float__ are). Dict keys must be str and are stored as data,\n"
     "so a dict reads back as an object with fields f0, f1, ... holding keys and\n"
     "values in turn. Numbers are narrowed to 32 bits as by dumps().\n"
     "strict: refuse, with LossError, the first number that would not read back\n"
     "as written.\n"
     "Returns the container as bytes.\n"
     "\n"
     "Raises TypeError for a value of another type, UnsupportedTypeError for a\n"
     "list that mixes item types, LossError under strict (both are ValueErrors,\n"
     "with the path of the value refused), RecursionError past the nesting limit.\n"
     "\n"
     ">>> vesk.loads(vesk.emit({'a': [1, 2]}))\n"
     "{'f0': 'a', 'f1': [1, 2]}"));

// pack's docstring, which names its nesting limit.
constexpr auto pack_doc = joined_text(
    std::to_array(
     "pack(obj, *, strict=False)\n--\n\n"
     "Compile a Python value to VESK binary bytes, as dumps() compiles its JSON text.\n"
     "\n"
     "obj: dict (str keys), list, tuple, str, int, float, bool or None, with at most "),
    decimal_text<format::kMaxEmitNesting>(),
    std::to_array(
     "\nlevels of lists, tuples and dicts. Dicts become objects whose member names are\n"
     "their keys; int subclasses and objects with __index__ or __float__ are taken\n"
     "as emit() takes them. The bytes are those of dumps(json.dumps(obj,\n"
     "ensure_ascii=False)) wherever json.dumps accepts obj and its floats are\n"
     "finite; infinities and NaN are stored too.\n"
     "strict: refuse, with LossError, the first number (in dict order) that would\n"
     "not read back as written.\n"
     "Returns the container as bytes.\n"
     "\n"
     "Raises TypeError for a value of another type or a key that is not a str,\n"
     "UnsupportedTypeError for an array that mixes item types, ParseError for a\n"
     "value beyond the container's limits, LossError under strict (all are\n"
     "ValueErrors, with the path of the value refused), RecursionError past the\n"
     "nesting limit.\n"
     "\n"
     ">>> vesk.loads(vesk.pack({'b': [1, 2.5], 'a': None}))\n"
     "{'a': None, 'b': [1.0, 2.5]}"));

// Read-only: the interpreter keeps pointers to these entries for the life of
// each function object but never writes through them. The first line of each
// docstring after the signature is the summary; the rest shows in help().
const std::array<PyMethodDef, 7> function_table = {{
    {"dumps", as_cfunction<&dumps_function>(), fast_call_flags,
     "dumps(json_text, *, strict=False)\n--\n\n"
     "Compile a JSON string to VESK binary bytes.\n"
     "\n"
     "json_text: a str holding one JSON text (RFC 8259); any value may be the root.\n"
     "strict: refuse, with LossError, the first number (in text order) that would\n"
     "not read back as written, rather than store it changed.\n"
     "Returns the container as bytes.\n"
     "\n"
     "Numbers are narrowed to 32 bits: integers keep their low 32 bits (integers\n"
     "from 2**63 up are stored unsigned) and floats become the nearest binary32.\n"
     "Object keys are stored in byte order. An array holds one item type; integers\n"
     "and floats may mix, and then all become floats.\n"
     "\n"
     "Raises ParseError for text that is not JSON (with line, column and pos) or a\n"
     "document beyond the container's limits, UnsupportedTypeError for an array\n"
     "that mixes other item types, LossError under strict (all are ValueErrors,\n"
     "with the path of the value refused), TypeError when json_text is not a str.\n"
     "\n"
     ">>> vesk.loads(vesk.dumps('{\"b\": [1, 2.5], \"a\": \"x\"}'))\n"
     "{'a': 'x', 'b': [1.0, 2.5]}"},
    {"loads", as_cfunction<&loads_function>(), fast_call_flags,
     "loads(bytes)\n--\n\n"
     "Decompile VESK binary bytes to a Python object.\n"
     "\n"
     "bytes: the container, as any C-contiguous buffer (bytes, bytearray,\n"
     "memoryview, ...); it is read in place.\n"
     "Returns dict, list, str, int, float, bool or None. Keys come back in byte\n"
     "order. A container of several entries gives a list of them.\n"
     "\n"
     "Raises ParseError (a ValueError) for a container that is damaged or beyond\n"
     "the reader's limits, TypeError when bytes is no buffer.\n"
     "\n"
     ">>> vesk.loads(bytearray(vesk.dumps('{\"id\": 3000000000, \"x\": 0.1}')))\n"
     "{'id': -1294967296, 'x': 0.10000000149011612}"},
    {"dump", as_cfunction<&dump_function>(), fast_call_flags,
     "dump(json_text, path, *, strict=False)\n--\n\n"
     "Compile JSON string and write VESK binary to a file.\n"
     "\n"
     "json_text: a str holding one JSON text, compiled as by dumps(), strict too.\n"
     "path: str, bytes or os.PathLike. The file is created or truncated, and only\n"
     "once the text has compiled: text that fails leaves an existing file as it was.\n"
     "It is written in place: a dump that fails while writing leaves it truncated or\n"
     "partly written. For an atomic replace, dump to a temporary name in the same\n"
     "directory and os.replace() it over the target.\n"
     "Returns None.\n"
     "\n"
     "Raises ParseError, UnsupportedTypeError or LossError as dumps() does (and\n"
     "then writes nothing), FileError when the file cannot be written (all are\n"
     "ValueErrors; FileError carries errno and filename), TypeError for arguments\n"
     "of the wrong type.\n"
     "\n"
     ">>> vesk.dump('{\"id\": 7}', pathlib.Path('doc.vesk'))\n"
     ">>> vesk.load('doc.vesk')\n"
     "{'id': 7}"},
    {"load", as_cfunction<&load_function>(), fast_call_flags,
     "load(path)\n--\n\n"
     "Read a VESK file and decompile to a Python object.\n"
     "\n"
     "path: str, bytes or os.PathLike.\n"
     "Returns the same object as loads() of the file's bytes.\n"
     "\n"
     "Raises FileError when the file cannot be read (errno and filename tell which\n"
     "and why), ParseError for a container that loads() refuses (both are\n"
     "ValueErrors), TypeError when path is of the wrong type.\n"
     "\n"
     ">>> try:\n"
     "...     vesk.load('missing.vesk')\n"
     "... except vesk.FileError as error:\n"
     "...     print(error.errno, error.filename)\n"
     "2 missing.vesk"},
    {"emit", as_cfunction<&emit_function>(), fast_call_flags,
     emit_doc.data()},
    {"pack", as_cfunction<&pack_function>(), fast_call_flags,
     pack_doc.data()},
    {"to_json", as_cfunction<&to_json_function>(), fast_call_flags,
     "to_json(data, *, indent=None, allow_nan=False)\n--\n\n"
     "Write the data of a VESK container as JSON text, without Python objects.\n"
     "\n"
     "data: the container, as any C-contiguous buffer, as for loads().\n"
     "indent: None writes one line without spaces; an int from 0 to 1024 puts\n"
     "each item and member on a line of its own, indented by that many spaces\n"
     "per level, with ': ' after keys.\n"
     "allow_nan: write infinities and NaNs as Infinity, -Infinity and NaN, as\n"
     "Python's json module does (JSON has no such values); by default they raise.\n"
     "Returns a str holding what loads() returns, as JSON: keys in byte order,\n"
     "integers as integers, each float as the shortest decimal that reads back as\n"
     "the same 32-bit float, strings as json.dumps(ensure_ascii=False) writes them.\n"
     "\n"
     "Raises ParseError as loads() does for a damaged container,\n"
     "UnsupportedTypeError naming the path of a non-finite float (both are\n"
     "ValueErrors), TypeError or ValueError for arguments.\n"
     "\n"
     ">>> vesk.to_json(vesk.dumps('{\"b\": [0.1, 0.5], \"a\": \"\u00e9\"}'))\n"
     "'{\"a\":\"\u00e9\",\"b\":[0.1,0.5]}'"},
}};

// Not part of the public surface: set as module attributes, kept out of __all__.
const std::array<PyMethodDef, 2> private_functions = {{
    {"_describe", as_cfunction<&describe_function>(), fast_call_flags,
     "_describe(bytes)\n--\n\n"
     "The structure of a VESK container, for the command line's inspect.\n"
     "\n"
     "Returns a dict: version, size, block offsets, definitions (index, kind,\n"
     "elem_type, fields, uses), dictionary ((string, references) pairs), entries,\n"
     "values (count by kind), inline_string_bytes and loads_memory (the bytes\n"
     "loads() takes to read it, or None if it refuses it). Raises ParseError as\n"
     "loads()."},
    {"_dumps_counting", as_cfunction<&dumps_counting_function>(), fast_call_flags,
     "_dumps_counting(json_text)\n--\n\n"
     "dumps(), and the numbers that strict=True would refuse, for the command\n"
     "line's encode.\n"
     "\n"
     "Returns (container, count, path): the container as bytes, how many numbers\n"
     "would not read back as written, and the JSON path of the first (None when\n"
     "there is none). Raises what dumps() raises."},
}};

// What help(vesk) opens with.
constexpr const char* module_doc =
    "JSON to VESK, a compact binary container, and back.\n"
    "\n"
    "A VESK container stores every distinct object shape and array item type\n"
    "once (definitions), repeated strings once (a dictionary), and the data as\n"
    "entries that point at them. Numbers are narrowed to 32 bits: integers keep\n"
    "their low 32 bits, floats become binary32. Object keys come back in byte\n"
    "order.\n"
    "\n"
    "Functions:\n"
    "    dumps(json_text) -> bytes      JSON text to a container (strict=True: refuse\n"
    "                                   numbers that would not read back as written)\n"
    "    dump(json_text, path)          the same, written to a path or file object\n"
    "    loads(bytes) -> object         a container to dict, list, str, int, ...\n"
    "    load(path) -> object           the same, read from a path or file object\n"
    "    emit(obj) -> bytes             a Python value straight to a container\n"
    "    pack(obj) -> bytes             a Python value to a container, as dumps\n"
    "                                   compiles its JSON text\n"
    "    to_json(data) -> str           a container's data as JSON text\n"
    "\n"
    "Exceptions (all ValueErrors, through VeskError):\n"
    "    ParseError            JSON text or a container refused, or a document\n"
    "                          beyond the container's limits\n"
    "    UnsupportedTypeError  data the format cannot store (an array of mixed types)\n"
    "    FileError             a path could not be read or written (errno, filename)\n"
    "    LossError             strict=True met a number that would not read back\n"
    "                          as written (path, value, stored)\n"
    "Arguments of the wrong type raise TypeError.\n"
    "\n"
    "The functions keep no state between calls and release the interpreter lock\n"
    "while they work on large inputs, so threads, process pools and cluster tasks\n"
    "may call them freely.\n"
    "\n"
    ">>> vesk.loads(vesk.dumps('{\"b\": [1, 2], \"a\": \"x\"}'))\n"
    "{'a': 'x', 'b': [1, 2]}";

// The exception classes, listed in __all__ after the functions so that
// help(vesk) and `from vesk import *` show them too.
constexpr std::array<const char*, 5> exported_classes = {"VeskError", "ParseError", "UnsupportedTypeError",
                                                         "FileError", "LossError"};

// The module's __all__ list, created empty when the module has none yet.
PyRef all_list(PyObject* module) {
    PyObject* namespace_dict = PyModule_GetDict(module);
    if (namespace_dict == nullptr) {
        return PyRef();
    }
    PyObject* existing = PyDict_GetItemString(namespace_dict, "__all__");
    if (existing != nullptr) {
        return PyRef::borrow(existing);
    }
    PyRef fresh(PyList_New(0));
    if (!fresh || PyDict_SetItemString(namespace_dict, "__all__", fresh.get()) < 0) {
        return PyRef();
    }
    return fresh;
}

int add_function(PyObject* module, PyObject* module_name, const PyMethodDef& definition) {
    PyRef function(PyCFunction_NewEx(const_cast<PyMethodDef*>(&definition), module, module_name));
    if (!function) {
        return -1;
    }
    PyRef name(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name) {
        return -1;
    }
    PyRef exported = all_list(module);
    if (!exported || PyList_Append(exported.get(), name.get()) < 0) {
        return -1;
    }
    return PyObject_SetAttr(module, name.get(), function.get());
}

int exec_module(PyObject* module) {
    ModuleState* state = module_state(module);
    if (state == nullptr) {
        return -1;
    }
    new (state) ModuleState{};
    PyRef module_name(PyModule_GetNameObject(module));
    if (!module_name) {
        return -1;
    }
    for (const PyMethodDef& definition : function_table) {
        if (add_function(module, module_name.get(), definition) < 0) {
            return -1;
        }
    }
    for (const PyMethodDef& definition : private_functions) {
        PyRef function(PyCFunction_NewEx(const_cast<PyMethodDef*>(&definition), module, module_name.get()));
        if (!function || PyModule_AddObjectRef(module, definition.ml_name, function.get()) < 0) {
            return -1;
        }
    }
    if (add_error_classes(module) < 0) {
        return -1;
    }
    PyRef exported = all_list(module);
    if (!exported) {
        return -1;
    }
    for (const char* name : exported_classes) {
        PyRef text(PyUnicode_FromString(name));
        if (!text || PyList_Append(exported.get(), text.get()) < 0) {
            return -1;
        }
    }
    return PyModule_AddStringConstant(module, "__version__", VESK_VERSION);
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
    return visit_error_classes(module, visit, arg);
}

int clear_module(PyObject* module) {
    clear_error_classes(module);
    if (ModuleState* state = module_state(module)) {
        state->read_tables.drop();
        state->parts_room.drop();
    }
    return 0;
}

// The state is empty (zero-filled) until the module executes, and ends here
// either way.
void free_module(void* module) {
    if (ModuleState* state = module_state(static_cast<PyObject*>(module))) state->~ModuleState();
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

// The interpreter writes its bookkeeping into the definition (PyModuleDef_Init
// turns it into an object), so it cannot be const.
PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "vesk",
    module_doc,
    static_cast<Py_ssize_t>(sizeof(ModuleState)),
    nullptr,
    module_slots,
    &traverse_module,
    &clear_module,
    &free_module,
};

}  // namespace

}  // namespace vesk::python

PyMODINIT_FUNC PyInit_vesk(void) {
    return PyModuleDef_Init(&vesk::python::module_definition);
}

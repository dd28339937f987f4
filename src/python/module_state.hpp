#pragma once

#include <Python.h>

#include "dumps/json_container.hpp"
#include "python/errors.hpp"
#include "python/read_tables.hpp"
#include "python/reused_object.hpp"

namespace vesk::python {

// Everything a module object keeps: each interpreter that imports the module
// has its own, so subinterpreters share nothing. Made when the module
// executes, into memory the interpreter has zero-filled, which is also an
// empty state (the collector may look at it before).
struct ModuleState {
    ErrorClasses errors;
    ReusedObject<ReadTables> read_tables;      // loads and load
    ReusedObject<dumps::PartsRoom> parts_room;  // dumps and dump
};

// nullptr when `module` has no state (it never finished executing).
inline ModuleState* module_state(PyObject* module) noexcept {
    return static_cast<ModuleState*>(PyModule_GetState(module));
}

}  // namespace vesk::python

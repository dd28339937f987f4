#pragma once

#include <Python.h>

#include <cstddef>
#include <memory>
#include <string_view>

namespace vesk::python {

// The UTF-8 form of a str, for reading during one call without attaching a
// copy to the str for the rest of its life: its own bytes when it is ASCII,
// the form it already holds when something made one earlier, else a copy
// transcoded here, exactly as long as it needs to be.
class JsonText {
public:
    // Returns false with the interpreter's error set when the str has no
    // UTF-8 form (lone surrogates).
    bool take(PyObject* text);

    std::string_view view() const noexcept { return view_; }

private:
    std::unique_ptr<char[]> copy_;
    std::string_view view_;
};

}  // namespace vesk::python

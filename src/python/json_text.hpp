#pragma once

#include <Python.h>

#include <cstddef>
#include <string_view>

#include "dumps/json_container.hpp"

namespace vesk::python {

// The JSON text of a str, for reading during one call without attaching a
// UTF-8 copy to the str for the rest of its life. It is read where it lies:
// the str's own bytes when it is ASCII, the UTF-8 form it holds when
// something made one earlier, else its code points (Latin-1, UCS-2 or UCS-4
// units).
class JsonText {
public:
    // Takes the str, which the caller keeps alive while this is used.
    // Returns false with the interpreter's error set when the str has no
    // UTF-8 form (lone surrogates) and that is known already; a str read as
    // code points is not searched for surrogates here, which check() does.
    bool take(PyObject* text);

    // Whether the str has a UTF-8 form; if not, sets the interpreter's error.
    // For callers that must report it before reading further arguments.
    bool check();

    // The container, or the error that refuses the text, from whichever form
    // the text is read in; a surrogate refuses it, which check() reports as
    // the interpreter does. Touches no Python object, so it may run without
    // the interpreter lock.
    Result<dumps::JsonContainer> compile(dumps::PartsRoom* room = nullptr) const;

    // Bytes of UTF-8 or code points, as the text is read.
    std::size_t size() const noexcept { return form_ == Form::Utf8 ? view_.size() : length_; }

private:
    enum class Form { Utf8, Latin1, Ucs2, Ucs4 };

    PyObject* text_ = nullptr;
    Form form_ = Form::Utf8;
    const void* units_ = nullptr;  // code points, in the str
    std::size_t length_ = 0;       // code points
    std::string_view view_;        // the UTF-8 form
};

}  // namespace vesk::python

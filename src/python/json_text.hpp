#pragma once

#include <Python.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

#include "compile/json_container.hpp"

namespace vesk::python {

// The JSON text of a str, for reading during one call without attaching a
// UTF-8 copy to the str for the rest of its life. It is read where it lies:
// the str's own bytes when it is ASCII, the UTF-8 form it holds when
// something made one earlier, else its code points (Latin-1, UCS-2 or UCS-4
// units). A UTF-8 copy, exactly as long as it needs to be, is made only for
// the document path.
class JsonText {
public:
    // Returns false with the interpreter's error set when the str has no
    // UTF-8 form (lone surrogates).
    bool take(PyObject* text);

    // The direct plan, from whichever form the text is read in. Touches no
    // Python object, so it may run without the interpreter lock.
    std::optional<JsonContainer> plan() const;

    // The UTF-8 form, transcoded here on the first call when the text is
    // read as code points. Touches no Python object.
    std::string_view utf8();

private:
    enum class Form { Utf8, Latin1, Ucs2, Ucs4 };

    Form form_ = Form::Utf8;
    const void* units_ = nullptr;  // code points, in the str
    std::size_t length_ = 0;       // code points
    std::unique_ptr<char[]> copy_;
    std::string_view view_;  // the UTF-8 form, once known
};

}  // namespace vesk::python

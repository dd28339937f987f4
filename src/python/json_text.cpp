#include "python/json_text.hpp"

#include <cstdint>
#include <span>

#include "python/text_argument.hpp"

namespace vesk::python {

namespace {

// Whether one of `length` code units is a surrogate. Without a branch per
// unit the compiler takes many units per step.
template <class Unit>
bool has_surrogate(const void* data, std::size_t length) noexcept {
    const auto* units = static_cast<const Unit*>(data);
    bool found = false;
    for (std::size_t i = 0; i < length; ++i) found |= static_cast<std::uint32_t>(units[i]) - 0xD800u < 0x800u;
    return found;
}

template <class Unit>
std::span<const Unit> units_of(const void* data, std::size_t length) noexcept {
    return std::span<const Unit>(static_cast<const Unit*>(data), length);
}

}  // namespace

bool JsonText::take(PyObject* text) {
    text_ = text;
    // The cached form lives in fields of the str that these versions share.
#if PY_VERSION_HEX < 0x030E0000
    if (!PyUnicode_IS_ASCII(text) && reinterpret_cast<const PyCompactUnicodeObject*>(text)->utf8 == nullptr) {
        switch (PyUnicode_KIND(text)) {
            case PyUnicode_1BYTE_KIND: form_ = Form::Latin1; break;
            case PyUnicode_2BYTE_KIND: form_ = Form::Ucs2; break;
            case PyUnicode_4BYTE_KIND: form_ = Form::Ucs4; break;
        }
        units_ = PyUnicode_DATA(text);
        length_ = static_cast<std::size_t>(PyUnicode_GET_LENGTH(text));
        return true;
    }
#endif
    const std::optional<std::string_view> own = utf8_view(text);
    if (!own) {
        return false;
    }
    view_ = *own;
    return true;
}

bool JsonText::check() {
    bool surrogate = false;
    switch (form_) {
        case Form::Utf8:
        case Form::Latin1: break;
        case Form::Ucs2: surrogate = has_surrogate<Py_UCS2>(units_, length_); break;
        case Form::Ucs4: surrogate = has_surrogate<Py_UCS4>(units_, length_); break;
    }
    // The interpreter reports it as it always does.
    return !surrogate || utf8_view(text_).has_value();
}

Result<JsonContainer> JsonText::compile() const {
    switch (form_) {
        case Form::Utf8: return JsonContainer::compile(view_, kMaxContainerSize, KnownUtf8::Yes);
        case Form::Latin1: return JsonContainer::compile(CodePointText(units_of<Py_UCS1>(units_, length_)));
        case Form::Ucs2: return JsonContainer::compile(CodePointText(units_of<Py_UCS2>(units_, length_)));
        case Form::Ucs4: return JsonContainer::compile(CodePointText(units_of<Py_UCS4>(units_, length_)));
    }
    return JsonContainer::compile(CodePointText(units_of<Py_UCS4>(units_, length_)));
}

}  // namespace vesk::python

#include "python/json_text.hpp"

#include <cstdint>
#include <cstring>
#include <span>

#include "python/text_argument.hpp"

namespace vesk::python {

namespace {

// Bytes of the UTF-8 form of `length` code points, or 0 when one of them is
// a surrogate, which UTF-8 cannot hold (a str of one or more code points
// never has an empty UTF-8 form).
template <class Unit>
std::size_t utf8_size(const Unit* units, std::size_t length) noexcept {
    std::size_t size = length;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint32_t unit = units[i];
        if (unit < 0x80) continue;
        if (unit >= 0xD800 && unit <= 0xDFFF) return 0;
        size += unit < 0x800 ? 1 : unit < 0x10000 ? 2 : 3;
    }
    return size;
}

template <class Unit>
void encode_utf8(const Unit* units, std::size_t length, char* out) noexcept {
    auto byte = [](std::uint32_t value) { return static_cast<char>(value); };
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint32_t unit = units[i];
        if (unit < 0x80) {
            *out++ = byte(unit);
        } else if (unit < 0x800) {
            *out++ = byte(0xC0 | (unit >> 6));
            *out++ = byte(0x80 | (unit & 0x3F));
        } else if (unit < 0x10000) {
            *out++ = byte(0xE0 | (unit >> 12));
            *out++ = byte(0x80 | ((unit >> 6) & 0x3F));
            *out++ = byte(0x80 | (unit & 0x3F));
        } else {
            *out++ = byte(0xF0 | (unit >> 18));
            *out++ = byte(0x80 | ((unit >> 12) & 0x3F));
            *out++ = byte(0x80 | ((unit >> 6) & 0x3F));
            *out++ = byte(0x80 | (unit & 0x3F));
        }
    }
}

template <class Unit>
std::size_t transcode(const void* data, std::size_t length, std::unique_ptr<char[]>& copy) {
    const auto* units = static_cast<const Unit*>(data);
    const std::size_t size = utf8_size(units, length);
    if (size == 0) return 0;
    copy = std::make_unique_for_overwrite<char[]>(size);
    encode_utf8(units, length, copy.get());
    return size;
}

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

std::optional<JsonContainer> JsonText::plan() const {
    switch (form_) {
        case Form::Utf8: return JsonContainer::plan(view_, kMaxContainerSize, KnownUtf8::Yes);
        case Form::Latin1: return JsonContainer::plan(CodePointText(units_of<Py_UCS1>(units_, length_)));
        case Form::Ucs2: return JsonContainer::plan(CodePointText(units_of<Py_UCS2>(units_, length_)));
        case Form::Ucs4: return JsonContainer::plan(CodePointText(units_of<Py_UCS4>(units_, length_)));
    }
    return std::nullopt;
}

bool JsonText::make_utf8() {
    std::size_t size = 0;
    switch (form_) {
        case Form::Utf8: return true;
        case Form::Latin1: size = transcode<Py_UCS1>(units_, length_, copy_); break;
        case Form::Ucs2: size = transcode<Py_UCS2>(units_, length_, copy_); break;
        case Form::Ucs4: size = transcode<Py_UCS4>(units_, length_, copy_); break;
    }
    if (size == 0) {
        // A surrogate: the interpreter reports it as it always does.
        return utf8_view(text_).has_value();
    }
    view_ = std::string_view(copy_.get(), size);
    form_ = Form::Utf8;
    return true;
}

}  // namespace vesk::python

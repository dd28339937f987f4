#include "python/json_text.hpp"

#include <cstdint>
#include <cstring>
#include <span>

#include "python/text_argument.hpp"

namespace vesk::python {

namespace {

// Whether one of `length` code units is a surrogate, which has no UTF-8
// form. Without a branch per unit the compiler takes many units per step.
template <class Unit>
bool has_surrogate(const Unit* units, std::size_t length) noexcept {
    bool found = false;
    for (std::size_t i = 0; i < length; ++i) found |= static_cast<std::uint32_t>(units[i]) - 0xD800u < 0x800u;
    return found;
}

// Bytes of the UTF-8 form of `length` code points, none of them a surrogate.
template <class Unit>
std::size_t utf8_size(const Unit* units, std::size_t length) noexcept {
    std::size_t size = length;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint32_t unit = units[i];
        size += unit < 0x80 ? 0 : unit < 0x800 ? 1 : unit < 0x10000 ? 2 : 3;
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
std::string_view transcode(const void* data, std::size_t length, std::unique_ptr<char[]>& copy) {
    const auto* units = static_cast<const Unit*>(data);
    const std::size_t size = utf8_size(units, length);
    copy = std::make_unique_for_overwrite<char[]>(size);
    encode_utf8(units, length, copy.get());
    return std::string_view(copy.get(), size);
}

template <class Unit>
std::span<const Unit> units_of(const void* data, std::size_t length) noexcept {
    return std::span<const Unit>(static_cast<const Unit*>(data), length);
}

}  // namespace

bool JsonText::take(PyObject* text) {
    // The cached form lives in fields of the str that these versions share.
#if PY_VERSION_HEX < 0x030E0000
    if (!PyUnicode_IS_ASCII(text)) {
        const auto* compact = reinterpret_cast<const PyCompactUnicodeObject*>(text);
        if (compact->utf8 == nullptr) {
            const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(text));
            const void* data = PyUnicode_DATA(text);
            bool surrogate = false;
            switch (PyUnicode_KIND(text)) {
                case PyUnicode_1BYTE_KIND: form_ = Form::Latin1; break;
                case PyUnicode_2BYTE_KIND:
                    form_ = Form::Ucs2;
                    surrogate = has_surrogate(static_cast<const Py_UCS2*>(data), length);
                    break;
                case PyUnicode_4BYTE_KIND:
                    form_ = Form::Ucs4;
                    surrogate = has_surrogate(static_cast<const Py_UCS4*>(data), length);
                    break;
            }
            if (!surrogate) {
                units_ = data;
                length_ = length;
                return true;
            }
            // The interpreter reports it as it always does.
            form_ = Form::Utf8;
        }
    }
#endif
    const std::optional<std::string_view> own = utf8_view(text);
    if (!own) {
        return false;
    }
    view_ = *own;
    return true;
}

std::optional<JsonContainer> JsonText::plan() const {
    switch (form_) {
        case Form::Utf8: return JsonContainer::plan(view_, kMaxContainerSize, KnownUtf8::Yes);
        case Form::Latin1: return JsonContainer::plan(units_of<Py_UCS1>(units_, length_));
        case Form::Ucs2: return JsonContainer::plan(units_of<Py_UCS2>(units_, length_));
        case Form::Ucs4: return JsonContainer::plan(units_of<Py_UCS4>(units_, length_));
    }
    return std::nullopt;
}

std::string_view JsonText::utf8() {
    if (view_.data() != nullptr) return view_;
    switch (form_) {
        case Form::Utf8: break;
        case Form::Latin1: view_ = transcode<Py_UCS1>(units_, length_, copy_); break;
        case Form::Ucs2: view_ = transcode<Py_UCS2>(units_, length_, copy_); break;
        case Form::Ucs4: view_ = transcode<Py_UCS4>(units_, length_, copy_); break;
    }
    return view_;
}

}  // namespace vesk::python

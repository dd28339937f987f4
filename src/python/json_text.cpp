#include "python/json_text.hpp"

#include <cstdint>
#include <span>

#include "python/text_argument.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vesk::python {

namespace {

// Whether one of `length` code units is a surrogate: sixteen bytes of them
// at a time, since a refused text is searched to its end.
template <class Unit>
bool has_surrogate(const void* data, std::size_t length) noexcept {
    static_assert(sizeof(Unit) == 2 || sizeof(Unit) == 4);
    const auto* units = static_cast<const Unit*>(data);
    std::size_t i = 0;
#if defined(__SSE2__)
    constexpr std::size_t kStep = 16 / sizeof(Unit);
    for (; length - i >= kStep; i += kStep) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
        __m128i surrogates;
        if constexpr (sizeof(Unit) == 2) {
            surrogates = _mm_cmpeq_epi16(_mm_and_si128(chunk, _mm_set1_epi16(static_cast<short>(0xF800))),
                                         _mm_set1_epi16(static_cast<short>(0xD800)));
        } else {
            surrogates = _mm_cmpeq_epi32(_mm_and_si128(chunk, _mm_set1_epi32(static_cast<int>(0xFFFFF800u))),
                                         _mm_set1_epi32(0xD800));
        }
        if (_mm_movemask_epi8(surrogates) != 0) return true;
    }
#endif
    for (; i < length; ++i) {
        if (static_cast<std::uint32_t>(units[i]) - 0xD800u < 0x800u) return true;
    }
    return false;
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

Result<dumps::JsonContainer> JsonText::compile(dumps::PartsRoom* room) const {
    using dumps::JsonContainer;
    constexpr std::size_t limit = format::kMaxContainerSize;
    switch (form_) {
        case Form::Utf8: return JsonContainer::compile(view_, limit, dumps::KnownUtf8::Yes, room);
        case Form::Latin1: return JsonContainer::compile(json::CodePointText(units_of<Py_UCS1>(units_, length_)), limit, room);
        case Form::Ucs2: return JsonContainer::compile(json::CodePointText(units_of<Py_UCS2>(units_, length_)), limit, room);
        case Form::Ucs4: return JsonContainer::compile(json::CodePointText(units_of<Py_UCS4>(units_, length_)), limit, room);
    }
    return JsonContainer::compile(json::CodePointText(units_of<Py_UCS4>(units_, length_)), limit, room);
}

}  // namespace vesk::python

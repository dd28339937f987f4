#include "json/code_point_text.hpp"

#include "json/json_events.hpp"

namespace vesk {

namespace {

template <class Unit>
bool read_units(const void* units, std::size_t length, JsonEventSink& sink) {
    const std::span<const Unit> text(static_cast<const Unit*>(units), length);
    return JsonEventReader<JsonEventSink, false, Unit>(text, sink).read_document();
}

}  // namespace

bool CodePointText::read_events(JsonEventSink& sink) const {
    switch (width_) {
        case Width::Latin1: return read_units<std::uint8_t>(units_, length_, sink);
        case Width::Ucs2: return read_units<std::uint16_t>(units_, length_, sink);
        case Width::Ucs4: return read_units<std::uint32_t>(units_, length_, sink);
    }
    return false;
}

}  // namespace vesk

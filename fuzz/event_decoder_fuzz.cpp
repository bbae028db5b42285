// Feeds arbitrary bytes to the "/event" decoder: it must either return (an event or nothing) or throw its
// own error type, never crash or throw anything else, and decode the same bytes the same way twice.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "overlay/service/event_decoder.hpp"

namespace {

using namespace pavo::overlay;

// -1: no event, -2: malformed, -3: missing field, otherwise the event's tag.
long outcome(std::string_view bytes) {
    try {
        const auto event = EventDecoder::decode(bytes);
        if (!event) return -1;
        if (typeName(*event).empty()) std::abort();
        return static_cast<long>(event->index());
    } catch (const EventDecodeError& error) {
        if (error.kind() == EventDecodeError::Kind::missingField && error.detail().empty()) std::abort();
        return error.kind() == EventDecodeError::Kind::malformedJSON ? -2 : -3;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (outcome(bytes) != outcome(bytes)) std::abort();
    return 0;
}

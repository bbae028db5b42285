#pragma once
// The typed events clients post to "/event", and the decoder that turns a request body into one.
// The decoder is a pure function of the bytes: no state, no I/O.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

namespace pavo::overlay {

enum class AgentState { idle, active, destructive, paused };

std::optional<AgentState> agentStateFromString(std::string_view text);

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const Rect&) const = default;
};

namespace events {

struct CursorMove {
    Point at;
};
struct Click {
    Point at;
    std::optional<double> timestamp;
};
struct Key {
    std::string chord;
    std::optional<double> timestamp;
};
struct ElementFocus {
    Rect frame;
};
struct DestructivePrepare {
    std::string action;
    std::optional<double> timestamp;
};
struct Status {
    std::string state;
    std::optional<double> timestamp;
};
struct CursorHalo {
    Point at;
};
struct ClickRipple {
    Point at;
};
struct KeyChordPill {
    std::string chord;
};
struct ElementBBox {
    Rect rect;
};
struct DestructivePrompt {
    std::string id;
    std::string action;
    std::optional<std::string> target;
    std::optional<std::int64_t> ttlSeconds;
};
struct AgentStateChange {
    AgentState state;
    std::optional<std::string> clientId;
};
struct Ack {
    std::string id;
};
struct AuditLog {
    std::string ts;
    std::string tool;
    std::string argsHash;
    std::string result;
    std::int64_t elapsedMs = 0;
    std::optional<std::string> reason;
};

}  // namespace events

// The alternatives are in the order of the wire format's tags.
using OverlayEvent =
    std::variant<events::CursorMove, events::Click, events::Key, events::ElementFocus,
                 events::DestructivePrepare, events::Status, events::CursorHalo, events::ClickRipple,
                 events::KeyChordPill, events::ElementBBox, events::DestructivePrompt,
                 events::AgentStateChange, events::Ack, events::AuditLog>;

// The wire name of an event's type ("cursor_move", ...).
std::string_view typeName(const OverlayEvent& event);

class EventDecodeError : public std::runtime_error {
  public:
    enum class Kind { malformedJSON, missingField };

    EventDecodeError(Kind kind, std::string detail);

    Kind kind() const { return kind_; }
    // For missingField the field text the server puts after "missing_field:"; for malformedJSON the
    // underlying decoding error.
    const std::string& detail() const { return detail_; }

  private:
    Kind kind_;
    std::string detail_;
};

struct EventDecoder {
    // The event in `body`, or nothing for a well-formed document of a type nobody knows.
    // Throws EventDecodeError.
    static std::optional<OverlayEvent> decode(std::string_view body);
};

}  // namespace pavo::overlay

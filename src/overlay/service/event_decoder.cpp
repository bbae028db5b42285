#include "overlay/service/event_decoder.hpp"

#include <nlohmann/json.hpp>

#include <iterator>
#include <limits>
#include <map>
#include <type_traits>
#include <utility>

#include "common/json_fields.hpp"

namespace pavo::overlay {

using nlohmann::json;

std::optional<AgentState> agentStateFromString(std::string_view text) {
    if (text == "idle") return AgentState::idle;
    if (text == "active") return AgentState::active;
    if (text == "destructive") return AgentState::destructive;
    if (text == "paused") return AgentState::paused;
    return std::nullopt;
}

EventDecodeError::EventDecodeError(Kind kind, std::string detail)
    : std::runtime_error(kind == Kind::missingField ? "missing field: " + detail
                                                    : "malformed JSON: " + detail),
      kind_(kind),
      detail_(std::move(detail)) {}

namespace {

using RectMembers = std::map<std::string, double>;

// Every member the wire format knows, read whatever the type: a wrong JSON type anywhere makes the
// document malformed, even in a member the event does not use.
struct EventPayload {
    std::string type;
    std::optional<double> x, y;
    std::optional<std::string> chord;
    std::optional<RectMembers> frame, rect;
    std::optional<std::string> action, target;
    std::optional<std::int64_t> ttlSeconds;
    std::optional<std::string> state, id;
    std::optional<double> timestamp;
    std::optional<std::string> clientId, ts, tool, argsHash, result;
    std::optional<std::int64_t> elapsedMs;
    std::optional<std::string> reason;
};

[[noreturn]] void malformed(std::string detail) {
    throw EventDecodeError(EventDecodeError::Kind::malformedJSON, std::move(detail));
}

[[noreturn]] void missing(std::string field) {
    throw EventDecodeError(EventDecodeError::Kind::missingField, std::move(field));
}

// The member's value, or nothing when it is absent or null.
const json* member(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

// Absent and null leave `out` empty; a value of another type makes the whole event malformed.
template <typename T>
void read(const json& object, const char* key, std::optional<T>& out, const char* expected) {
    T value{};
    switch (common::readField(object, key, value)) {
        case common::FieldRead::absent:
            return;
        case common::FieldRead::present:
            out = std::move(value);
            return;
        case common::FieldRead::wrongType:
            break;
    }
    if (std::is_same_v<T, std::int64_t> && object.at(key).is_number_unsigned()) {
        malformed(std::string("\"") + key + "\" does not fit a 64-bit integer");
    }
    malformed(std::string("\"") + key + "\" is not " + expected);
}

void readNumber(const json& object, const char* key, std::optional<double>& out) {
    read(object, key, out, "a number");
}

void readInteger(const json& object, const char* key, std::optional<std::int64_t>& out) {
    read(object, key, out, "an integer");
}

void readString(const json& object, const char* key, std::optional<std::string>& out) {
    read(object, key, out, "a string");
}

void readRect(const json& object, const char* key, std::optional<RectMembers>& out) {
    const json* value = member(object, key);
    if (!value) return;
    if (!value->is_object()) malformed(std::string("\"") + key + "\" is not an object");
    RectMembers members;
    for (const auto& [name, number] : value->items()) {
        if (!number.is_number()) malformed(std::string("\"") + key + "." + name + "\" is not a number");
        members[name] = number.get<double>();
    }
    out = std::move(members);
}

EventPayload readPayload(std::string_view body) {
    json document;
    try {
        document = json::parse(body);
    } catch (const json::exception& error) {
        malformed(error.what());
    }
    if (!document.is_object()) malformed("the document is not an object");
    const json* type = member(document, "type");
    if (!type) malformed("\"type\" is missing");
    if (!type->is_string()) malformed("\"type\" is not a string");

    EventPayload p;
    p.type = type->get<std::string>();
    readNumber(document, "x", p.x);
    readNumber(document, "y", p.y);
    readString(document, "chord", p.chord);
    readRect(document, "frame", p.frame);
    readRect(document, "rect", p.rect);
    readString(document, "action", p.action);
    readString(document, "target", p.target);
    readInteger(document, "ttlSeconds", p.ttlSeconds);
    readString(document, "state", p.state);
    readString(document, "id", p.id);
    readNumber(document, "timestamp", p.timestamp);
    readString(document, "client_id", p.clientId);
    readString(document, "ts", p.ts);
    readString(document, "tool", p.tool);
    readString(document, "args_hash", p.argsHash);
    readString(document, "result", p.result);
    readInteger(document, "elapsed_ms", p.elapsedMs);
    readString(document, "reason", p.reason);
    return p;
}

Point requirePoint(const EventPayload& p, const std::string& type) {
    if (!p.x || !p.y) missing("x or y for " + type);
    return {*p.x, *p.y};
}

Rect requireRect(const std::optional<RectMembers>& members, const std::string& text) {
    if (!members) missing(text);
    auto get = [&](const char* name) {
        auto it = members->find(name);
        if (it == members->end()) missing(text);
        return it->second;
    };
    const double x = get("x"), y = get("y"), width = get("width"), height = get("height");
    return {x, y, width, height};
}

template <typename T>
const T& require(const std::optional<T>& value, const char* text) {
    if (!value) missing(text);
    return *value;
}

}  // namespace

std::optional<OverlayEvent> EventDecoder::decode(std::string_view body) {
    const EventPayload p = readPayload(body);
    const std::string& t = p.type;
    if (t.empty()) missing("type");

    using namespace events;
    if (t == "cursor_move") return CursorMove{requirePoint(p, t)};
    if (t == "click") return Click{requirePoint(p, t), p.timestamp};
    if (t == "key") return Key{require(p.chord, "chord for key"), p.timestamp};
    if (t == "element_focus")
        return ElementFocus{requireRect(p.frame, "frame (x,y,width,height) for element_focus")};
    if (t == "destructive_prepare") {
        return DestructivePrepare{require(p.action, "action for destructive_prepare"), p.timestamp};
    }
    if (t == "status") return Status{require(p.state, "state for status"), p.timestamp};
    if (t == "cursor_halo") return CursorHalo{requirePoint(p, t)};
    if (t == "click_ripple") return ClickRipple{requirePoint(p, t)};
    if (t == "key_chord_pill") return KeyChordPill{require(p.chord, "chord for key_chord_pill")};
    if (t == "element_bbox")
        return ElementBBox{requireRect(p.rect, "rect (x,y,width,height) for element_bbox")};
    if (t == "destructive_prompt") {
        const std::string& id = require(p.id, "id for destructive_prompt");
        const std::string& action = require(p.action, "action for destructive_prompt");
        return DestructivePrompt{id, action, p.target, p.ttlSeconds};
    }
    if (t == "agent_state") {
        // A state that is not one of the four is reported exactly like a missing one.
        std::optional<AgentState> state = p.state ? agentStateFromString(*p.state) : std::nullopt;
        if (!state) missing("state for agent_state");
        return AgentStateChange{*state, p.clientId};
    }
    if (t == "ack") return Ack{require(p.id, "id for ack")};
    if (t == "audit_log") {
        const std::string& ts = require(p.ts, "ts for audit_log");
        const std::string& tool = require(p.tool, "tool for audit_log");
        const std::string& argsHash = require(p.argsHash, "args_hash for audit_log");
        const std::string& result = require(p.result, "result for audit_log");
        const std::int64_t elapsedMs = require(p.elapsedMs, "elapsed_ms for audit_log");
        return AuditLog{ts, tool, argsHash, result, elapsedMs, p.reason};
    }
    return std::nullopt;
}

std::string_view typeName(const OverlayEvent& event) {
    static constexpr std::string_view names[] = {
        "cursor_move",
        "click",
        "key",
        "element_focus",
        "destructive_prepare",
        "status",
        "cursor_halo",
        "click_ripple",
        "key_chord_pill",
        "element_bbox",
        "destructive_prompt",
        "agent_state",
        "ack",
        "audit_log",
    };
    static_assert(std::size(names) == std::variant_size_v<OverlayEvent>);
    return names[event.index()];
}

}  // namespace pavo::overlay

// The "/event" wire format: which documents become which events, and the exact failure texts.

#include <gtest/gtest.h>

#include "overlay/service/event_decoder.hpp"

namespace pavo::overlay {
namespace {

using Kind = EventDecodeError::Kind;

// The failure kind and text a body produces, or "ok"/"none" when it decodes.
std::string outcome(const std::string& body) {
    try {
        return EventDecoder::decode(body) ? "ok" : "none";
    } catch (const EventDecodeError& error) {
        return error.kind() == Kind::missingField ? "missing:" + error.detail() : "malformed";
    }
}

OverlayEvent decodeOne(const std::string& body) {
    auto event = EventDecoder::decode(body);
    if (!event) throw std::runtime_error("no event for " + body);
    return *event;
}

TEST(EventDecoder, EveryMissingFieldTextInCheckingOrder) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"type":""})", "type"},
        {R"({"type":"cursor_move","x":10})", "x or y for cursor_move"},
        {R"({"type":"cursor_move","y":10})", "x or y for cursor_move"},
        {R"({"type":"click"})", "x or y for click"},
        {R"({"type":"key"})", "chord for key"},
        {R"({"type":"element_focus"})", "frame (x,y,width,height) for element_focus"},
        {R"({"type":"element_focus","frame":{"x":1,"y":2,"width":3}})",
         "frame (x,y,width,height) for element_focus"},
        {R"({"type":"element_focus","rect":{"x":1,"y":2,"width":3,"height":4}})",
         "frame (x,y,width,height) for element_focus"},
        {R"({"type":"destructive_prepare"})", "action for destructive_prepare"},
        {R"({"type":"status"})", "state for status"},
        {R"({"type":"cursor_halo","x":1})", "x or y for cursor_halo"},
        {R"({"type":"click_ripple","y":1})", "x or y for click_ripple"},
        {R"({"type":"key_chord_pill"})", "chord for key_chord_pill"},
        {R"({"type":"element_bbox","rect":{"x":1,"y":2,"width":3}})",
         "rect (x,y,width,height) for element_bbox"},
        {R"({"type":"element_bbox","frame":{"x":1,"y":2,"width":3,"height":4}})",
         "rect (x,y,width,height) for element_bbox"},
        {R"({"type":"destructive_prompt"})", "id for destructive_prompt"},
        {R"({"type":"destructive_prompt","action":"click"})", "id for destructive_prompt"},
        {R"({"type":"destructive_prompt","id":"p1"})", "action for destructive_prompt"},
        {R"({"type":"agent_state"})", "state for agent_state"},
        {R"({"type":"agent_state","state":"busy"})", "state for agent_state"},
        {R"({"type":"agent_state","state":"Active"})", "state for agent_state"},
        {R"({"type":"ack"})", "id for ack"},
        {R"({"type":"audit_log"})", "ts for audit_log"},
        {R"({"type":"audit_log","ts":"t"})", "tool for audit_log"},
        {R"({"type":"audit_log","ts":"t","tool":"x"})", "args_hash for audit_log"},
        {R"({"type":"audit_log","ts":"t","tool":"x","args_hash":"h"})", "result for audit_log"},
        {R"({"type":"audit_log","ts":"t","tool":"x","args_hash":"h","result":"ok"})",
         "elapsed_ms for audit_log"},
        // camel case is not the wire key for these
        {R"({"type":"audit_log","ts":"t","tool":"x","argsHash":"h","result":"ok","elapsed_ms":1})",
         "args_hash for audit_log"},
    };
    for (const auto& [body, text] : cases) EXPECT_EQ(outcome(body), "missing:" + text) << body;
}

TEST(EventDecoder, WrongJsonTypesAnywhereMakeTheDocumentMalformed) {
    for (
        const std::string body : {
            "",
            "not json",
            "[]",
            "\"cursor_move\"",
            "{}",
            R"({"type":5})",
            R"({"type":null})",
            R"({"type":"cursor_move","x":"10","y":2})",
            R"({"type":"cursor_move","x":true,"y":2})",
            R"({"type":"destructive_prompt","id":"a","action":"b","ttlSeconds":1.5})",
            R"({"type":"destructive_prompt","id":"a","action":"b","ttlSeconds":1.0})",
            R"({"type":"destructive_prompt","id":"a","action":"b","ttlSeconds":"5"})",
            R"({"type":"audit_log","ts":"","tool":"","args_hash":"","result":"","elapsed_ms":9223372036854775808})",
            // members the type does not use are still checked
            R"({"type":"key","chord":"cmd+c","elapsed_ms":2.5})",
            R"({"type":"ack","id":"a","frame":[1,2,3,4]})",
            R"({"type":"ack","id":"a","rect":{"x":1,"y":"2","width":3,"height":4}})",
            R"({"type":"ack","id":"a","rect":{"x":1,"y":null,"width":3,"height":4}})",
            R"({"type":"ack","id":7})",
            R"({"type":"ack","id":"a","client_id":1})",
            R"({"type":"status","state":"idle","timestamp":"now"})",
            R"({"type":"ack","id":"a",})",
            "{\"type\":\"ack\",\"id\":\"\xC3\x28\"}",
        }) {
        EXPECT_EQ(outcome(body), "malformed") << body;
    }
}

TEST(EventDecoder, NullMembersCountAsAbsent) {
    EXPECT_EQ(outcome(R"({"type":"cursor_move","x":1,"y":null})"), "missing:x or y for cursor_move");
    EXPECT_EQ(
        outcome(R"({"type":"destructive_prompt","id":"p","action":"a","ttlSeconds":null,"target":null})"),
        "ok");
    auto prompt = std::get<events::DestructivePrompt>(
        decodeOne(R"({"type":"destructive_prompt","id":"p","action":"a","ttlSeconds":null})"));
    EXPECT_FALSE(prompt.ttlSeconds);
    EXPECT_FALSE(prompt.target);
}

TEST(EventDecoder, UnknownAndCaseDifferentTypesAreNoEvent) {
    for (const std::string body : {R"({"type":"Cursor_Move","x":1,"y":2})", R"({"type":"CURSOR_MOVE"})",
                                   R"({"type":"cursor_move "})", R"({"type":"teleport","x":1})"}) {
        EXPECT_EQ(outcome(body), "none") << body;
    }
    // but an unknown type is still read strictly
    EXPECT_EQ(outcome(R"({"type":"teleport","x":"far"})"), "malformed");
}

TEST(EventDecoder, BuildsEachCaseFromItsMembers) {
    auto move =
        std::get<events::CursorMove>(decodeOne(R"({"type":"cursor_move","x":10,"y":20.5,"extra":[1]})"));
    EXPECT_EQ(move.at, (Point{10.0, 20.5}));

    auto click = std::get<events::Click>(decodeOne(R"({"type":"click","x":-1,"y":2,"timestamp":3.25})"));
    EXPECT_EQ(click.at, (Point{-1, 2}));
    EXPECT_EQ(click.timestamp, 3.25);

    auto focus = std::get<events::ElementFocus>(
        decodeOne(R"({"type":"element_focus","frame":{"x":1,"y":2,"width":3,"height":4.5,"z":9}})"));
    EXPECT_EQ(focus.frame, (Rect{1, 2, 3, 4.5}));
    auto box = std::get<events::ElementBBox>(
        decodeOne(R"({"type":"element_bbox","rect":{"height":4,"width":3,"y":2,"x":1}})"));
    EXPECT_EQ(box.rect, (Rect{1, 2, 3, 4}));

    auto prompt = std::get<events::DestructivePrompt>(decodeOne(
        R"({"type":"destructive_prompt","id":"p1","action":"click","target":"e1","ttlSeconds":30})"));
    EXPECT_EQ(prompt.id, "p1");
    EXPECT_EQ(prompt.action, "click");
    EXPECT_EQ(prompt.target, "e1");
    EXPECT_EQ(prompt.ttlSeconds, 30);

    auto paused = std::get<events::AgentStateChange>(decodeOne(R"({"type":"agent_state","state":"paused"})"));
    EXPECT_EQ(paused.state, AgentState::paused);
    EXPECT_FALSE(paused.clientId);
    auto named = std::get<events::AgentStateChange>(
        decodeOne(R"({"type":"agent_state","state":"idle","client_id":"c7"})"));
    EXPECT_EQ(named.clientId, "c7");

    auto audit = std::get<events::AuditLog>(
        decodeOne(R"({"type":"audit_log","ts":"","tool":"","args_hash":"","result":"","elapsed_ms":0})"));
    EXPECT_EQ(audit.elapsedMs, 0);
    EXPECT_FALSE(audit.reason);
    auto refused = std::get<events::AuditLog>(decodeOne(
        R"({"type":"audit_log","ts":"t","tool":"ax_click","args_hash":"ab","result":"denied","elapsed_ms":-12,"reason":"r"})"));
    EXPECT_EQ(refused.tool, "ax_click");
    EXPECT_EQ(refused.argsHash, "ab");
    EXPECT_EQ(refused.elapsedMs, -12);
    EXPECT_EQ(refused.reason, "r");

    EXPECT_EQ(std::get<events::Key>(decodeOne(R"({"type":"key","chord":""})")).chord, "");
    EXPECT_EQ(std::get<events::Status>(decodeOne(R"({"type":"status","state":"error"})")).state, "error");
    EXPECT_EQ(std::get<events::Ack>(decodeOne(R"({"type":"ack","id":"a"})")).id, "a");
    EXPECT_EQ(typeName(decodeOne(R"({"type":"click_ripple","x":1,"y":1})")), "click_ripple");
    EXPECT_EQ(typeName(decodeOne(
                  R"({"type":"audit_log","ts":"","tool":"","args_hash":"","result":"","elapsed_ms":0})")),
              "audit_log");
}

}  // namespace
}  // namespace pavo::overlay

#pragma once
// What the operator sees of one tool call on the overlay: the display events drawn before the agent is
// asked and after it has answered, and the start and end of the call. Events use the overlay's wire format.

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "mcp/element_frames.hpp"

namespace pavo::mcp {

// Where the call is about to act: a halo where a click will land, the box of a target, the key chords.
std::vector<nlohmann::json> eventsBefore(const std::string& tool, const nlohmann::json& arguments,
                                         const ElementFrames& frames);

// What it did, once the agent has answered with success: the click's ripple, the boxes of found elements.
std::vector<nlohmann::json> eventsAfter(const std::string& tool, const nlohmann::json& arguments,
                                        const nlohmann::json& reply, const ElementFrames& frames);

// The call's start or end: the agent's state ("active" or "idle") and a status line.
std::vector<nlohmann::json> stateEvents(const std::string& state, const std::string& clientId);

}  // namespace pavo::mcp

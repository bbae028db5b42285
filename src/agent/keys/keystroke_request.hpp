#pragma once
// The body of a keystroke request and its decoder. Every key is optional and read strictly by its type
// (null counts as absent, unknown keys are ignored); an empty body never decodes.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/server/agent_error.hpp"

namespace pavo::agent {

struct SendKeystrokesRequest {
    std::optional<std::string> text = std::nullopt;
    std::optional<std::vector<std::string>> keys = std::nullopt;  // chord tokens, pressed after the text
    std::optional<std::string> appBundleId = std::nullopt;        // "app_bundle_id"
    std::optional<std::string> appName = std::nullopt;            // "app_name"
    std::optional<std::string> mode = std::nullopt;               // "cgevent", "applescript", else auto
    std::optional<std::int64_t> delayMs = std::nullopt;           // "delay_ms"
};

// "bad_request" whose message says what is wrong.
Result<SendKeystrokesRequest> decodeSendKeystrokesRequest(std::string_view body);

// The pacing unit: 12 ms when none is asked for, else what is asked within 1..250 ms.
std::chrono::milliseconds keystrokeDelay(std::optional<std::int64_t> delayMs);

}  // namespace pavo::agent

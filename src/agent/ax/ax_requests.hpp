#pragma once
// The accessibility routes' request bodies and their decoders. Every key is read strictly by its type:
// required keys must be present and not null, a null optional key counts as absent, unknown keys are
// ignored, and an empty body never decodes ("bad_request").

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "agent/server/agent_error.hpp"

namespace pavo::agent {

struct AXTreeRequest {
    std::optional<std::int32_t> rootPid;  // "root_pid"
};

struct AXQuery {
    std::optional<std::string> role = std::nullopt;
    std::optional<std::string> label = std::nullopt;
    std::optional<std::string> identifier = std::nullopt;
    std::optional<std::string> valueRegex = std::nullopt;
    std::optional<std::int64_t> maxResults = std::nullopt;
    std::optional<std::string> batchId = std::nullopt;  // "batch_id"
};

struct AXClickRequest {
    std::string elementId;
    std::optional<std::string> batchId = std::nullopt;
};

struct AXTypeRequest {
    std::string elementId;
    std::string text;
    std::optional<std::string> batchId = std::nullopt;
};

struct AXScrollRequest {
    std::string elementId;
    std::string direction;
    std::optional<double> amount = std::nullopt;
    std::optional<std::string> batchId = std::nullopt;
};

// An object whose values are all integers or null; "root_pid" must fit in 32 bits.
Result<AXTreeRequest> decodeAXTreeRequest(std::string_view body);
// The failure's message says what is wrong.
Result<AXQuery> decodeAXQuery(std::string_view body);
Result<AXClickRequest> decodeAXClickRequest(std::string_view body);
Result<AXTypeRequest> decodeAXTypeRequest(std::string_view body);
Result<AXScrollRequest> decodeAXScrollRequest(std::string_view body);

// The batch a begin or end body names: an object of strings or nulls with a "batch_id", else "default".
std::string batchIdOfBody(std::string_view body);

}  // namespace pavo::agent

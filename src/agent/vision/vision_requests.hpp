#pragma once
// The request bodies of the screen-text routes and their decoders. Keys are read strictly by type: a null
// key counts as absent, unknown keys are ignored, and an empty body never decodes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "agent/server/agent_error.hpp"

namespace pavo::agent {

// Where an image comes from, and what labels it in the OCR cache.
struct OCROptions {
    std::optional<std::string> imageBase64 = std::nullopt;
    std::optional<std::string> imagePath = std::nullopt;
    std::optional<std::int32_t> pid = std::nullopt;        // cache key only
    std::optional<std::uint64_t> windowId = std::nullopt;  // cache key only
};

struct VisualFindOptions {
    std::optional<std::string> imageBase64 = std::nullopt;
    std::optional<std::string> imagePath = std::nullopt;
    std::string query;
};

struct TreeAndOCRRequest {
    std::optional<std::int32_t> rootPid = std::nullopt;  // "root_pid"
    OCROptions ocr;
};

// Failures are "bad_request" with the message "Invalid JSON body".
Result<OCROptions> decodeOCROptions(std::string_view body);
Result<VisualFindOptions> decodeVisualFindOptions(std::string_view body);
// Failures are "bad_request" with a message that says what is wrong.
Result<TreeAndOCRRequest> decodeTreeAndOCRRequest(std::string_view body);

}  // namespace pavo::agent

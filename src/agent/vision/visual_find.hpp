#pragma once
// Finding a query in a caller's image: recognised lines (words on one row grouped) and detected barcodes,
// scored against the query and returned best first.

#include <boost/asio/awaitable.hpp>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/ax/ax_element.hpp"
#include "agent/server/agent_error.hpp"
#include "agent/vision/vision_requests.hpp"
#include "platform/recognition.hpp"

namespace pavo::agent {

struct VisionContext;

struct VisualFindResult {
    std::string text;
    float confidence = 0;
    AXFrame boundingBox;
    float matchScore = 0;
    std::string type;  // "text" or "icon"
    bool operator==(const VisualFindResult&) const = default;
};

void to_json(nlohmann::json& out, const VisualFindResult& result);

// A row of recognised text, in the recogniser's unit square (origin bottom-left).
struct TextLine {
    std::string text;
    platform::NormalizedRect box;
    float confidence = 0;
};

// Rows top to bottom (origins more than 0.05 apart), left to right within a row; stable.
std::vector<platform::TextObservation> readingOrder(std::vector<platform::TextObservation> observations);

// Joins each observation to the line before it when it sits on the same row (origins less than 0.05 apart)
// and starts less than 0.1 after that line ends (overlapping it by less than 0.05).
std::vector<TextLine> groupLines(const std::vector<platform::TextObservation>& ordered);

// 1 for the whole text, 0.5 + 0.4 x (characters of the query / characters of the text) for a part of it,
// nothing otherwise; both lower-cased already. Characters are grapheme clusters.
std::optional<float> textScore(std::string_view text, std::string_view query);
// 1 for the whole payload, 0.8 for a part of it, 0.5 for any barcode when asked for "icon" or "barcode".
std::optional<float> barcodeScore(std::string_view payload, std::string_view query);

// Every match in what was recognised, best first; equal scores keep text before barcodes, each in order.
std::vector<VisualFindResult> visualMatches(const platform::Recognized& recognized, std::string_view query);

// Fails with "bad_request" "No valid image provided" when there is no usable image, and
// "visual_find_failed" "invalidRequest" when recognition fails.
boost::asio::awaitable<Result<std::vector<VisualFindResult>>> performVisualFind(VisionContext& context,
                                                                                VisualFindOptions options);

}  // namespace pavo::agent

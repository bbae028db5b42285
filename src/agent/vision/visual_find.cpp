#include "agent/vision/visual_find.hpp"

#include <algorithm>
#include <cmath>

#include "agent/vision/ocr.hpp"
#include "agent/vision/vision_context.hpp"
#include "agent/vision/vision_json.hpp"
#include "common/text.hpp"

namespace pavo::agent {

namespace {

using platform::NormalizedRect;
using platform::TextObservation;

// Whether `needle` occurs in `haystack` as a run of whole characters.
bool containsCharacters(const std::vector<std::string>& haystack, const std::vector<std::string>& needle) {
    if (needle.empty()) return false;
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

NormalizedRect unionOf(const NormalizedRect& a, const NormalizedRect& b) {
    const double x = std::min(a.x, b.x), y = std::min(a.y, b.y);
    const double right = std::max(a.x + a.width, b.x + b.width),
                 top = std::max(a.y + a.height, b.y + b.height);
    return {x, y, right - x, top - y};
}

}  // namespace

void to_json(nlohmann::json& out, const VisualFindResult& result) {
    out = {{"text", result.text},
           {"confidence", shortestDouble(result.confidence)},
           {"boundingBox", result.boundingBox},
           {"matchScore", shortestDouble(result.matchScore)},
           {"type", result.type}};
}

std::vector<TextObservation> readingOrder(std::vector<TextObservation> observations) {
    const auto before = [](const TextObservation& a, const TextObservation& b) {
        if (std::abs(a.box.y - b.box.y) > 0.05) return a.box.y > b.box.y;
        return a.box.x < b.box.x;
    };
    // The rule is not transitive (rows are judged pair by pair), which library sorts may not be given;
    // inserting one by one is stable and safe with any rule, and screens hold hundreds of lines at most.
    for (std::size_t i = 1; i < observations.size(); ++i) {
        for (std::size_t j = i; j > 0 && before(observations[j], observations[j - 1]); --j)
            std::swap(observations[j], observations[j - 1]);
    }
    return observations;
}

std::vector<TextLine> groupLines(const std::vector<TextObservation>& ordered) {
    std::vector<TextLine> lines;
    for (const TextObservation& observation : ordered) {
        if (!lines.empty()) {
            TextLine& line = lines.back();
            const double dy = std::abs(observation.box.y - line.box.y);
            const double gap = observation.box.x - (line.box.x + line.box.width);
            if (dy < 0.05 && gap < 0.1 && gap > -0.05) {
                line.text += " " + observation.text;
                line.box = unionOf(line.box, observation.box);
                line.confidence = std::min(line.confidence, observation.confidence);
                continue;
            }
        }
        lines.push_back({observation.text, observation.box, observation.confidence});
    }
    return lines;
}

std::optional<float> textScore(std::string_view text, std::string_view query) {
    if (text == query) return 1.0f;
    const auto characters = common::splitCharacters(text);
    const auto wanted = common::splitCharacters(query);
    if (!containsCharacters(characters, wanted)) return std::nullopt;
    const auto textCount = static_cast<float>(std::max<std::size_t>(1, characters.size()));
    return 0.5f + 0.4f * static_cast<float>(wanted.size()) / textCount;
}

std::optional<float> barcodeScore(std::string_view payload, std::string_view query) {
    if (payload == query) return 1.0f;
    if (containsCharacters(common::splitCharacters(payload), common::splitCharacters(query))) return 0.8f;
    if (query == "icon" || query == "barcode") return 0.5f;
    return std::nullopt;
}

std::vector<VisualFindResult> visualMatches(const platform::Recognized& recognized, std::string_view query) {
    const std::string q = common::toLower(query);
    std::vector<VisualFindResult> results;
    for (const TextLine& line : groupLines(readingOrder(recognized.text))) {
        if (auto score = textScore(common::toLower(line.text), q)) {
            results.push_back({line.text, line.confidence,
                               pixelFrame(line.box, recognized.width, recognized.height), *score, "text"});
        }
    }
    for (const auto& barcode : recognized.barcodes) {
        const std::string payload = barcode.payload.value_or("barcode");
        if (auto score = barcodeScore(common::toLower(payload), q)) {
            results.push_back({payload, barcode.confidence,
                               pixelFrame(barcode.box, recognized.width, recognized.height), *score, "icon"});
        }
    }
    std::stable_sort(results.begin(), results.end(),
                     [](const auto& a, const auto& b) { return a.matchScore > b.matchScore; });
    return results;
}

boost::asio::awaitable<Result<std::vector<VisualFindResult>>> performVisualFind(VisionContext& context,
                                                                                VisualFindOptions options) {
    const AgentError noImage{ErrorCode::badRequest, "No valid image provided"};
    const auto intake =
        co_await takeInImage(context.recognition, options.imageBase64, options.imagePath, false);
    if (!intake) co_return noImage;
    const auto outcome =
        co_await context.recognition.recognize(intake->bytes, {.text = true, .barcodes = true});
    if (const auto* failure = std::get_if<platform::RecognitionFailure>(&outcome)) {
        if (*failure == platform::RecognitionFailure::undecodable) co_return noImage;
        co_return AgentError{ErrorCode::visualFindFailed, "invalidRequest"};
    }
    co_return visualMatches(std::get<platform::Recognized>(outcome), options.query);
}

}  // namespace pavo::agent

#include "agent/vision/vision_json.hpp"

#include <charconv>
#include <cstdlib>
#include <string>

namespace pavo::agent {

double shortestDouble(float value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text - 1, value).ptr;
    *end = '\0';
    return std::strtod(text, nullptr);
}

void to_json(nlohmann::json& out, const OCRResult& result) {
    out = {{"text", result.text},
           {"confidence", shortestDouble(result.confidence)},
           {"boundingBox", result.boundingBox}};
}

}  // namespace pavo::agent

#pragma once
// The screen-text replies' JSON. Confidences and scores are 32-bit floats and are written as the shortest
// decimal that reads back as the same float (0.7285714, not 0.7285714149475098).

#include <nlohmann/json.hpp>

#include <vector>

#include "agent/vision/ocr_cache.hpp"

namespace pavo::agent {

double shortestDouble(float value);

void to_json(nlohmann::json& out, const OCRResult& result);

}  // namespace pavo::agent

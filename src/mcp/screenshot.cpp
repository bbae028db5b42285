#include "mcp/screenshot.hpp"

#include "common/base64.hpp"
#include "mcp/image_scaling.hpp"
#include "mcp/png_encoding.hpp"

namespace pavo::mcp {

using nlohmann::json;

std::optional<PreparedScreenshot> prepareScreenshot(platform::ScreenImage capture, bool keepFullSize,
                                                    std::size_t mostBytes) {
    RgbImage full{capture.width, capture.height, std::move(capture.rgb)};
    capture.rgb.clear();
    PreparedScreenshot shot;
    shot.source = capture;
    // Busy screens compress badly; each round shrinks the picture until the file fits.
    double factor = 1.0;
    for (int round = 0; round < 12; ++round, factor *= 0.8) {
        const ScaledSize size = fitWithin(full.width, full.height, kMostLongEdge, factor);
        auto png = encodePng(scaleDown(full, size.width, size.height));
        if (!png) return std::nullopt;
        if (png->size() >= mostBytes) {
            factor = size.scale;
            continue;
        }
        shot.png = std::move(*png);
        shot.width = size.width;
        shot.height = size.height;
        shot.scale = size.scale;
        if (keepFullSize) {
            shot.fullPng = shot.scale == 1.0 ? shot.png : encodePng(full);
            if (!shot.fullPng) return std::nullopt;
        }
        return shot;
    }
    return std::nullopt;
}

json describeScreenshot(const PreparedScreenshot& shot) {
    return {{"width", shot.width},
            {"height", shot.height},
            {"scale", shot.scale},
            {"origin", {{"x", shot.source.x}, {"y", shot.source.y}}},
            {"screenArea",
             {{"x", shot.source.x},
              {"y", shot.source.y},
              {"width", shot.source.width},
              {"height", shot.source.height}}},
            {"bytes", shot.png.size()}};
}

json onScreen(const json& ocrResults, const platform::ScreenImage& source) {
    json moved = json::array();
    if (!ocrResults.is_array()) return moved;
    for (json line : ocrResults) {
        if (line.is_object() && line.contains("boundingBox") && line["boundingBox"].is_object()) {
            json& box = line["boundingBox"];
            if (box.contains("x") && box["x"].is_number()) box["x"] = box["x"].get<double>() + source.x;
            if (box.contains("y") && box["y"].is_number()) box["y"] = box["y"].get<double>() + source.y;
        }
        moved.push_back(std::move(line));
    }
    return moved;
}

json screenshotResult(const PreparedScreenshot& shot, const json& description, bool isError,
                      const std::string& note) {
    std::string text = "Screenshot " + std::to_string(shot.width) + "x" + std::to_string(shot.height) +
                       " of the area " + std::to_string(shot.source.width) + "x" +
                       std::to_string(shot.source.height) + " at (" + std::to_string(shot.source.x) + ", " +
                       std::to_string(shot.source.y) + "); screen point = origin + pixel / scale.";
    if (!note.empty()) text += " " + note;
    text += "\n" + description.dump(-1, ' ', false, json::error_handler_t::replace);
    return {{"content",
             json::array(
                 {{{"type", "image"}, {"data", common::base64Encode(shot.png)}, {"mimeType", "image/png"}},
                  {{"type", "text"}, {"text", text}}})},
            {"structuredContent", description},
            {"isError", isError}};
}

}  // namespace pavo::mcp

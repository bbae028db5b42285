#pragma once
// The screenshot tool's picture: a capture shrunk to what a model takes in (long edge and file size
// bounded), as MCP image content with the scale and origin that map its pixels back to screen points.

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>

#include "platform/screen_capture.hpp"

namespace pavo::mcp {

inline constexpr int kMostLongEdge = 1568;
inline constexpr std::size_t kMostPngBytes = 1000000;

struct PreparedScreenshot {
    std::string png;
    int width = 0;
    int height = 0;
    double scale = 1.0;
    platform::ScreenImage source;        // position and size on the screen (pixels dropped once encoded)
    std::optional<std::string> fullPng;  // the capture at full size, for text recognition
};

// Nothing when the picture cannot be encoded within the size bound.
std::optional<PreparedScreenshot> prepareScreenshot(platform::ScreenImage capture, bool keepFullSize,
                                                    std::size_t mostBytes = kMostPngBytes);

// The structured description of the picture (without its pixels).
nlohmann::json describeScreenshot(const PreparedScreenshot& shot);

// The agent's OCR results moved from capture pixels to screen points.
nlohmann::json onScreen(const nlohmann::json& ocrResults, const platform::ScreenImage& source);

// The tool result: the image, a text with the same description, and the description as structured content.
nlohmann::json screenshotResult(const PreparedScreenshot& shot, const nlohmann::json& description,
                                bool isError, const std::string& note);

}  // namespace pavo::mcp

#pragma once

#include <optional>
#include <string>

#include "mcp/image_scaling.hpp"

namespace pavo::mcp {

// The picture as a PNG file's bytes (8-bit RGB); nothing when the encoder fails.
std::optional<std::string> encodePng(const RgbImage& image);

}  // namespace pavo::mcp

#pragma once
// Shrinking a screen picture to what a model takes in: at most so many pixels on the long edge.

#include <cstdint>
#include <vector>

namespace pavo::mcp {

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // red, green, blue per pixel, rows top to bottom
};

struct ScaledSize {
    int width = 0;
    int height = 0;
    double scale = 1.0;  // picture pixels per screen pixel
};

// The size of a `width` x `height` picture scaled by `factor` (never enlarged) and then, if need be, to at
// most `longEdge` pixels on its long edge; at least one pixel each way.
ScaledSize fitWithin(int width, int height, int longEdge, double factor = 1.0);

// Each output pixel is the average of the input pixels it covers, so thin text stays legible.
RgbImage scaleDown(const RgbImage& image, int width, int height);

}  // namespace pavo::mcp

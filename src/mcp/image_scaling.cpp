#include "mcp/image_scaling.hpp"

#include <algorithm>
#include <cmath>

namespace pavo::mcp {

ScaledSize fitWithin(int width, int height, int longEdge, double factor) {
    const int longest = std::max(width, height);
    double scale = std::min(1.0, factor);
    if (longest > 0 && longest * scale > longEdge) scale = static_cast<double>(longEdge) / longest;
    const int w = std::max(1, static_cast<int>(std::lround(width * scale)));
    const int h = std::max(1, static_cast<int>(std::lround(height * scale)));
    return {std::min(w, longEdge), std::min(h, longEdge), scale};
}

RgbImage scaleDown(const RgbImage& image, int width, int height) {
    if (width == image.width && height == image.height) return image;
    RgbImage out{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    const double sx = static_cast<double>(image.width) / width;
    const double sy = static_cast<double>(image.height) / height;
    for (int y = 0; y < height; ++y) {
        const int top = static_cast<int>(y * sy);
        const int bottom =
            std::max(top + 1, std::min(image.height, static_cast<int>(std::ceil((y + 1) * sy))));
        for (int x = 0; x < width; ++x) {
            const int left = static_cast<int>(x * sx);
            const int right =
                std::max(left + 1, std::min(image.width, static_cast<int>(std::ceil((x + 1) * sx))));
            unsigned sum[3] = {0, 0, 0};
            for (int row = top; row < bottom; ++row) {
                const std::uint8_t* in =
                    image.pixels.data() + (static_cast<std::size_t>(row) * image.width + left) * 3;
                for (int column = left; column < right; ++column, in += 3) {
                    sum[0] += in[0];
                    sum[1] += in[1];
                    sum[2] += in[2];
                }
            }
            const unsigned count = static_cast<unsigned>((bottom - top) * (right - left));
            std::uint8_t* pixel = out.pixels.data() + (static_cast<std::size_t>(y) * width + x) * 3;
            for (int c = 0; c < 3; ++c) pixel[c] = static_cast<std::uint8_t>((sum[c] + count / 2) / count);
        }
    }
    return out;
}

}  // namespace pavo::mcp

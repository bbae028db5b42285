#pragma once
// Taking a picture of the screen: what the MCP server's screenshot tool needs of the system.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pavo::platform {

// Pixels as 8-bit red, green, blue triples, rows top to bottom; `x`, `y` place the picture's top-left
// corner on the screen (the coordinates element frames use).
struct ScreenImage {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> rgb;
};

struct CaptureResult {
    std::optional<ScreenImage> image;
    std::string failure;  // why there is no image, worded for the user
};

class ScreenCapture {
  public:
    virtual ~ScreenCapture() = default;

    // The whole screen, or (with a pid) the part of the screen its largest visible window covers. Blocks
    // for the time a capture takes: call it off the I/O thread.
    virtual CaptureResult capture(std::optional<std::int64_t> pid) = 0;
};

}  // namespace pavo::platform

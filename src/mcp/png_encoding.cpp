#include "mcp/png_encoding.hpp"

#include <png.h>

namespace pavo::mcp {

std::optional<std::string> encodePng(const RgbImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 3) {
        return std::nullopt;
    }
    png_image description{};
    description.version = PNG_IMAGE_VERSION;
    description.width = static_cast<png_uint_32>(image.width);
    description.height = static_cast<png_uint_32>(image.height);
    description.format = PNG_FORMAT_RGB;
    const png_int_32 stride = image.width * 3;

    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&description, nullptr, &size, 0, image.pixels.data(), stride, nullptr)) {
        png_image_free(&description);
        return std::nullopt;
    }
    std::string bytes(size, '\0');
    if (!png_image_write_to_memory(&description, bytes.data(), &size, 0, image.pixels.data(), stride,
                                   nullptr)) {
        png_image_free(&description);
        return std::nullopt;
    }
    bytes.resize(size);
    return bytes;
}

}  // namespace pavo::mcp

#pragma once
// Barcodes of every symbology ZXing reads. ZXing's error header defines macros that break zbar's: this file
// and its .cpp never include zbar.

#include <optional>
#include <string>
#include <vector>

struct Pix;

namespace pavo::platform::linux_recognition {

// A symbol's bounding rectangle in pixels: [left, right) x [top, bottom).
struct PixelBarcode {
    std::optional<std::string> payload;  // UTF-8; nothing when it holds bytes rather than text
    int left = 0, top = 0, right = 0, bottom = 0;
};

// Reads a 32-bit image in place, without copying it.
std::vector<PixelBarcode> detectBarcodes(const Pix* image);

}  // namespace pavo::platform::linux_recognition

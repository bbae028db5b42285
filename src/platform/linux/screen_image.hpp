#pragma once
// Screen images through Leptonica: decoding, and the grey image a text engine reads best.

#include <memory>
#include <string_view>
#include <vector>

struct Pix;

namespace pavo::platform::linux_recognition {

struct PixDeleter {
    void operator()(Pix* pix) const;
};
using PixPtr = std::unique_ptr<Pix, PixDeleter>;

// Larger images are refused before they are decoded: a small file can claim a huge bitmap.
inline constexpr int kMaxImageSide = 16384;

// The first image in `bytes` at 32 bits per pixel, any transparency laid over white; nothing when it is not
// an image Leptonica reads or it is too large.
PixPtr decodeImage(std::string_view bytes);

// Grey, with light text on dark ground (coloured buttons, selections, dark themes) turned into dark text on
// light ground, which is the only kind a page-layout engine finds.
PixPtr textImage(Pix* image);

// Pixels in each row of a grey image that are not near white.
std::vector<int> inkPerRow(Pix* grey);

// Rows [top, bottom) as an image of their own.
PixPtr clipRows(Pix* image, int top, int bottom);

int widthOf(const Pix* image);
int heightOf(const Pix* image);

}  // namespace pavo::platform::linux_recognition

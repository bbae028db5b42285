#include "platform/linux/screen_image.hpp"

#include <leptonica/allheaders.h>

#include <cstdint>

namespace pavo::platform::linux_recognition {

namespace {

// Grey levels below this count as dark ground or ink.
constexpr int kDarkBelow = 150;
// A dark area at least this large, mostly dark itself (text in it is lighter), is ground, not a glyph.
constexpr int kGroundMinWidth = 24;
constexpr int kGroundMinHeight = 14;
constexpr double kGroundMinDarkShare = 0.6;

const auto* bytesOf(std::string_view bytes) {
    return reinterpret_cast<const l_uint8*>(bytes.data());
}

// Inside one dark area: its ground becomes white and whatever is lighter than the ground becomes dark, in
// proportion, so anti-aliased edges stay soft.
void invertGround(Pix* grey, Pix* area, const Box* where) {
    l_int32 x = 0, y = 0, w = 0, h = 0;
    boxGetGeometry(const_cast<Box*>(where), &x, &y, &w, &h);
    PixPtr part(pixClipRectangle(grey, const_cast<Box*>(where), nullptr));
    PixPtr holes(pixHolesByFilling(area, 4));
    if (!part || !holes) return;
    PixPtr filled(pixOr(nullptr, area, holes.get()));
    l_float32 ground = 0;
    if (!filled || pixGetRankValueMasked(part.get(), area, 0, 0, 1, 0.5f, &ground, nullptr) != 0) return;
    const int g = static_cast<int>(ground);
    l_uint32* data = pixGetData(part.get());
    const int wpl = pixGetWpl(part.get());
    for (int row = 0; row < h; ++row) {
        l_uint32* line = data + row * wpl;
        for (int column = 0; column < w; ++column) {
            const int v = GET_DATA_BYTE(line, column);
            SET_DATA_BYTE(line, column, v <= g ? 255 : 255 - (v - g) * 255 / (255 - g));
        }
    }
    pixCombineMaskedGeneral(grey, part.get(), filled.get(), x, y);
}

}  // namespace

void PixDeleter::operator()(Pix* pix) const {
    pixDestroy(&pix);
}

PixPtr decodeImage(std::string_view bytes) {
    l_int32 format = 0, width = 0, height = 0, bps = 0, spp = 0, colormapped = 0;
    if (bytes.empty() ||
        pixReadHeaderMem(bytesOf(bytes), bytes.size(), &format, &width, &height, &bps, &spp, &colormapped) !=
            0 ||
        width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) {
        return nullptr;
    }
    PixPtr decoded(pixReadMem(bytesOf(bytes), bytes.size()));
    if (!decoded) return nullptr;
    PixPtr rgb(pixConvertTo32(decoded.get()));
    if (!rgb) return nullptr;
    if (pixGetSpp(rgb.get()) == 4) return PixPtr(pixAlphaBlendUniform(rgb.get(), 0xffffff00));
    return rgb;
}

PixPtr textImage(Pix* image) {
    PixPtr grey(pixConvertRGBToLuminance(image));
    PixPtr dark(grey ? pixThresholdToBinary(grey.get(), kDarkBelow) : nullptr);
    if (!dark) return grey;
    Pixa* areas = nullptr;
    Boxa* boxes = pixConnComp(dark.get(), &areas, 8);
    const int count = boxes ? boxaGetCount(boxes) : 0;
    for (int i = 0; i < count; ++i) {
        l_int32 x = 0, y = 0, w = 0, h = 0;
        boxaGetBoxGeometry(boxes, i, &x, &y, &w, &h);
        if (w < kGroundMinWidth || h < kGroundMinHeight) continue;
        PixPtr area(pixaGetPix(areas, i, L_CLONE));
        l_int32 darkPixels = 0;
        if (!area || pixCountPixels(area.get(), &darkPixels, nullptr) != 0) continue;
        if (darkPixels < kGroundMinDarkShare * w * h) continue;
        Box* where = boxaGetBox(boxes, i, L_CLONE);
        invertGround(grey.get(), area.get(), where);
        boxDestroy(&where);
    }
    pixaDestroy(&areas);
    boxaDestroy(&boxes);
    return grey;
}

std::vector<int> inkPerRow(Pix* grey) {
    std::vector<int> counts(static_cast<std::size_t>(heightOf(grey)), 0);
    // Faint too: anti-aliased edges an engine may still count as part of a glyph.
    PixPtr ink(pixThresholdToBinary(grey, 192));
    Numa* rows = ink ? pixCountPixelsByRow(ink.get(), nullptr) : nullptr;
    for (int row = 0; rows && row < numaGetCount(rows) && row < static_cast<int>(counts.size()); ++row) {
        l_int32 value = 0;
        numaGetIValue(rows, row, &value);
        counts[static_cast<std::size_t>(row)] = value;
    }
    numaDestroy(&rows);
    return counts;
}

PixPtr clipRows(Pix* image, int top, int bottom) {
    Box* rows = boxCreate(0, top, widthOf(image), bottom - top);
    PixPtr clipped(pixClipRectangle(image, rows, nullptr));
    boxDestroy(&rows);
    return clipped;
}

int widthOf(const Pix* image) {
    return pixGetWidth(const_cast<Pix*>(image));
}

int heightOf(const Pix* image) {
    return pixGetHeight(const_cast<Pix*>(image));
}

}  // namespace pavo::platform::linux_recognition

// 1.4 returns text as std::wstring unless told otherwise.
#define ZX_USE_UTF8
#include "platform/linux/zxing_barcodes.hpp"

#include <ZXing/ReadBarcode.h>
#include <leptonica/allheaders.h>

#include <algorithm>

namespace pavo::platform::linux_recognition {

std::vector<PixelBarcode> detectBarcodes(const Pix* image) {
    auto* pix = const_cast<Pix*>(image);
    // A 32-bit Leptonica pixel is the word 0xRRGGBBAA, which lies in memory as A, B, G, R on this machine.
    const ZXing::ImageView view(reinterpret_cast<const uint8_t*>(pixGetData(pix)), pixGetWidth(pix),
                                pixGetHeight(pix), ZXing::ImageFormat::XBGR, pixGetWpl(pix) * 4);
    ZXing::DecodeHints hints;
    hints.setTryHarder(true).setTryRotate(true);

    std::vector<PixelBarcode> found;
    for (const ZXing::Result& result : ZXing::ReadBarcodes(view, hints)) {
        if (!result.isValid()) continue;
        const auto& corners = result.position();
        PixelBarcode barcode;
        if (result.contentType() != ZXing::ContentType::Binary) barcode.payload = result.text();
        barcode.left = barcode.right = corners[0].x;
        barcode.top = barcode.bottom = corners[0].y;
        for (const auto& corner : corners) {
            barcode.left = std::min(barcode.left, corner.x);
            barcode.right = std::max(barcode.right, corner.x);
            barcode.top = std::min(barcode.top, corner.y);
            barcode.bottom = std::max(barcode.bottom, corner.y);
        }
        found.push_back(std::move(barcode));
    }
    return found;
}

}  // namespace pavo::platform::linux_recognition

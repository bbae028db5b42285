// Arbitrary bytes as the screen-text routes' bodies and as Base64: never a crash, a decoded body keeps the
// types it promises, and Base64 gives back exactly what it was made from.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "agent/vision/vision_requests.hpp"
#include "common/base64.hpp"

namespace {

using namespace pavo;

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const auto ocr = agent::decodeOCROptions(bytes);
    if (!ocr) check(ocr.error().message == "Invalid JSON body");
    const auto find = agent::decodeVisualFindOptions(bytes);
    if (!find) check(find.error().message == "Invalid JSON body");
    const auto both = agent::decodeTreeAndOCRRequest(bytes);
    if (!both) check(!both.error().message.empty());
    // The combined body reads the image keys exactly as the OCR body does.
    if (both) {
        check(ocr && ocr->pid == both->ocr.pid && ocr->windowId == both->ocr.windowId &&
              ocr->imageBase64 == both->ocr.imageBase64 && ocr->imagePath == both->ocr.imagePath);
    }

    if (const auto decoded = common::base64Decode(bytes)) {
        std::size_t padding = 0;
        while (padding < bytes.size() && bytes[bytes.size() - 1 - padding] == '=') ++padding;
        check(padding <= 2 && decoded->size() == bytes.size() / 4 * 3 - padding);
    }
    check(common::base64Decode(common::base64Encode(bytes)) == std::string(bytes));
    return 0;
}

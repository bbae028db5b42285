#pragma once
// Text recognition of a caller's image, through the OCR cache.

#include <boost/asio/awaitable.hpp>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/server/agent_error.hpp"
#include "agent/vision/ocr_cache.hpp"
#include "agent/vision/vision_requests.hpp"
#include "platform/recognition.hpp"

namespace pavo::agent {

struct VisionContext;

struct OCROutput {
    std::vector<OCRResult> results;  // in the recogniser's order
    bool cached = false;
};

// A box of the recogniser (unit square, origin bottom-left) in pixels of a width x height image with the
// origin at its top-left corner.
AXFrame pixelFrame(const platform::NormalizedRect& box, int width, int height);

// The image's bytes, read and hashed off the caller's thread; nothing when the request names no usable
// bytes.
struct ImageIntake {
    std::shared_ptr<const std::string> bytes;
    std::string frameHash;  // empty unless asked for
};
boost::asio::awaitable<std::optional<ImageIntake>> takeInImage(platform::Recognition& recognition,
                                                               const std::optional<std::string>& base64,
                                                               const std::optional<std::string>& path,
                                                               bool hash);

// Fails with "bad_request" "No valid image provided or could not decode image" when there is no usable
// image, and "ocr_failed" "invalidRequest" when the recogniser fails. When `abandoned` is set before
// recognition starts, it does not start (and the failure is of no interest).
boost::asio::awaitable<Result<OCROutput>> performOCR(VisionContext& context, OCROptions options,
                                                     const std::atomic<bool>* abandoned = nullptr);

}  // namespace pavo::agent

#include "agent/vision/ocr.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "agent/server/desktop_waits.hpp"
#include "agent/vision/image_intake.hpp"
#include "agent/vision/vision_context.hpp"

namespace pavo::agent {

namespace {

namespace asio = boost::asio;

AgentError noImage() {
    return {ErrorCode::badRequest, "No valid image provided or could not decode image"};
}

asio::awaitable<std::optional<ImageIntake>> intakeWork(const std::optional<std::string>& base64,
                                                       const std::optional<std::string>& path, bool hash) {
    auto bytes = imageBytes(base64, path);
    if (!bytes) co_return std::nullopt;
    ImageIntake intake{std::make_shared<const std::string>(std::move(*bytes)), {}};
    if (hash) intake.frameHash = sha256HashData(*intake.bytes);
    co_return intake;
}

}  // namespace

AXFrame pixelFrame(const platform::NormalizedRect& box, int width, int height) {
    const double w = width, h = height;
    return AXFrame{box.x * w, (1 - box.y - box.height) * h, box.width * w, box.height * h};
}

asio::awaitable<std::optional<ImageIntake>> takeInImage(platform::Recognition& recognition,
                                                        const std::optional<std::string>& base64,
                                                        const std::optional<std::string>& path, bool hash) {
    // Decoding Base64 and hashing a screenshot of a large display takes milliseconds: not on the I/O thread.
    co_return co_await asio::co_spawn(recognition.executor(), intakeWork(base64, path, hash),
                                      asio::use_awaitable);
}

asio::awaitable<Result<OCROutput>> performOCR(VisionContext& context, OCROptions options,
                                              const std::atomic<bool>* abandoned) {
    const auto intake =
        co_await takeInImage(context.recognition, options.imageBase64, options.imagePath, true);
    if (!intake) co_return noImage();
    // One moment for both the lookup and the store.
    const OCRCacheKey key{options.pid.value_or(0), options.windowId.value_or(0), intake->frameHash,
                          context.ocrCache.timeBucket()};

    context.ocrCache.evictOnFrontmostChange(co_await frontmostApplication(context.desktop));
    if (auto hit = context.ocrCache.get(key)) co_return OCROutput{std::move(*hit), true};
    if (abandoned && abandoned->load()) co_return AgentError{ErrorCode::ocrFailed, "abandoned"};

    const auto outcome =
        co_await context.recognition.recognize(intake->bytes, {.text = true, .barcodes = false});
    if (const auto* failure = std::get_if<platform::RecognitionFailure>(&outcome)) {
        if (*failure == platform::RecognitionFailure::undecodable) co_return noImage();
        co_return AgentError{ErrorCode::ocrFailed, "invalidRequest"};
    }
    const auto& recognized = std::get<platform::Recognized>(outcome);
    std::vector<OCRResult> results;
    for (const auto& line : recognized.text) {
        results.push_back(
            {line.text, line.confidence, pixelFrame(line.box, recognized.width, recognized.height)});
    }
    context.ocrCache.set(key, results);
    co_return OCROutput{std::move(results), false};
}

}  // namespace pavo::agent

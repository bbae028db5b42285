#include "platform/linux/tesseract_recognition.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <leptonica/allheaders.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <tuple>

#include "platform/linux/screen_image.hpp"
#include "platform/linux/tesseract_engine.hpp"
#include "platform/linux/text_bands.hpp"
#include "platform/linux/zxing_barcodes.hpp"

namespace pavo::platform::linux_recognition {

namespace {

namespace asio = boost::asio;
using namespace asio::experimental::awaitable_operators;

class Worker {
  public:
    // The engine loads on the worker's own thread.
    Worker() {
        asio::post(thread_, [this] {
            engine_ = std::make_unique<TesseractEngine>();
            loaded_.set_value();
        });
    }
    ~Worker() { thread_.join(); }

    void waitUntilLoaded() { loaded_.get_future().wait(); }

    asio::any_io_executor executor() { return thread_.get_executor(); }
    int pending() const { return pending_.load(); }

    // Runs `work(engine)` on this worker's thread; the caller resumes on its own executor.
    template <typename Work>
    asio::awaitable<std::invoke_result_t<Work&, TesseractEngine&>> run(Work work) {
        ++pending_;
        struct Done {
            std::atomic<int>& pending;
            ~Done() { --pending; }
        } done{pending_};
        co_return co_await asio::co_spawn(
            thread_,
            [this, &work]() -> asio::awaitable<std::invoke_result_t<Work&, TesseractEngine&>> {
                co_return work(*engine_);
            },
            asio::use_awaitable);
    }

  private:
    std::unique_ptr<TesseractEngine> engine_;  // touched only on thread_
    std::promise<void> loaded_;
    std::atomic<int> pending_{0};
    asio::thread_pool thread_{1};
};

// What one image is turned into before the engines see it; every part is read by one worker only, except
// `image`, which barcode reading only reads.
struct Prepared {
    PixPtr image;
    std::vector<TextBand> bands;
    std::vector<PixPtr> bandImages;
};

NormalizedRect normalized(int left, int top, int right, int bottom, int width, int height) {
    const double w = width, h = height;
    return NormalizedRect{left / w, 1.0 - bottom / h, (right - left) / w, (bottom - top) / h};
}

class TesseractRecognition final : public Recognition {
  public:
    explicit TesseractRecognition(RecognitionSettings settings) : settings_(settings) {
        setMsgSeverity(L_SEVERITY_NONE);  // undecodable input is answered, not logged
        TesseractEngine::quietAll();
        for (int i = 0; i < std::max(1, settings.workers); ++i)
            workers_.push_back(std::make_unique<Worker>());
        for (const auto& worker : workers_) worker->waitUntilLoaded();
    }

    asio::any_io_executor executor() override { return leastBusy().executor(); }

    asio::awaitable<RecognitionOutcome> recognize(std::shared_ptr<const std::string> bytes,
                                                  RecognitionRequest request) override {
        const int bands = settings_.cutIntoBands ? 2 : 1;
        std::optional<Prepared> prepared = co_await leastBusy().run(
            [&bytes, &request, bands](TesseractEngine&) { return prepare(*bytes, request.text, bands); });
        if (!prepared) co_return RecognitionFailure::undecodable;

        // A band left unread is a failure, so text asks for at least one.
        std::vector<std::optional<std::vector<PixelLine>>> lines(
            request.text ? std::max<std::size_t>(1, prepared->bands.size()) : 0);
        std::vector<PixelBarcode> barcodes;
        if (request.text && request.barcodes) {
            co_await (readText(*prepared, lines) && readBarcodes(*prepared, barcodes));
        } else if (request.text) {
            co_await readText(*prepared, lines);
        } else if (request.barcodes) {
            co_await readBarcodes(*prepared, barcodes);
        }
        if (std::any_of(lines.begin(), lines.end(), [](const auto& band) { return !band; })) {
            co_return RecognitionFailure::failed;
        }
        co_return recognized(*prepared, lines, barcodes);
    }

  private:
    std::size_t leastBusyIndex() const {
        const auto it = std::min_element(workers_.begin(), workers_.end(), [](const auto& a, const auto& b) {
            return a->pending() < b->pending();
        });
        return static_cast<std::size_t>(it - workers_.begin());
    }
    Worker& leastBusy() { return *workers_[leastBusyIndex()]; }

    static std::optional<Prepared> prepare(const std::string& bytes, bool text, int bands) {
        Prepared prepared{decodeImage(bytes), {}, {}};
        if (!prepared.image) return std::nullopt;
        if (!text) return prepared;
        PixPtr grey = textImage(prepared.image.get());
        if (!grey) return prepared;
        prepared.bands = planTextBands(inkPerRow(grey.get()), bands);
        if (prepared.bands.size() == 1) {
            prepared.bandImages.push_back(std::move(grey));
        } else {
            for (const TextBand& band : prepared.bands)
                prepared.bandImages.push_back(clipRows(grey.get(), band.top, band.bottom));
        }
        return prepared;
    }

    // Each band on its own worker when there are enough, at the same time.
    asio::awaitable<void> readText(Prepared& prepared,
                                   std::vector<std::optional<std::vector<PixelLine>>>& lines) {
        if (prepared.bands.empty() || prepared.bands.size() != prepared.bandImages.size() ||
            std::any_of(prepared.bandImages.begin(), prepared.bandImages.end(),
                        [](const auto& p) { return !p; })) {
            co_return;  // leaves the bands unread: a failure
        }
        const std::size_t first = leastBusyIndex();
        auto readBand = [&](std::size_t band) -> asio::awaitable<void> {
            Worker& worker = *workers_[(first + band) % workers_.size()];
            lines[band] = co_await worker.run([&prepared, band](TesseractEngine& engine) {
                return engine.recognize(prepared.bandImages[band].get());
            });
        };
        if (prepared.bands.size() == 1) {
            co_await readBand(0);
        } else {
            co_await (readBand(0) && readBand(1));
        }
    }

    asio::awaitable<void> readBarcodes(Prepared& prepared, std::vector<PixelBarcode>& barcodes) {
        barcodes = co_await leastBusy().run(
            [&prepared](TesseractEngine&) { return detectBarcodes(prepared.image.get()); });
    }

    static Recognized recognized(const Prepared& prepared,
                                 const std::vector<std::optional<std::vector<PixelLine>>>& lines,
                                 const std::vector<PixelBarcode>& barcodes) {
        Recognized out;
        out.width = widthOf(prepared.image.get());
        out.height = heightOf(prepared.image.get());
        std::vector<PixelLine> all;
        for (std::size_t band = 0; band < lines.size(); ++band) {
            const int top = prepared.bands[band].top;
            for (PixelLine line : *lines[band]) {
                line.top += top;
                line.bottom += top;
                all.push_back(std::move(line));
            }
        }
        // Reading order, whichever band a line came from.
        std::sort(all.begin(), all.end(), [](const PixelLine& a, const PixelLine& b) {
            return std::tie(a.top, a.left, a.bottom, a.right, a.text) <
                   std::tie(b.top, b.left, b.bottom, b.right, b.text);
        });
        for (const PixelLine& line : all) {
            out.text.push_back(
                {line.text, line.confidence,
                 normalized(line.left, line.top, line.right, line.bottom, out.width, out.height)});
        }
        for (const PixelBarcode& barcode : barcodes) {
            // A symbol that decodes has passed its own error correction.
            out.barcodes.push_back({barcode.payload, 1.0f,
                                    normalized(barcode.left, barcode.top, barcode.right, barcode.bottom,
                                               out.width, out.height)});
        }
        return out;
    }

    RecognitionSettings settings_;
    std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace

std::unique_ptr<Recognition> makeTesseractRecognition(RecognitionSettings settings) {
    return std::make_unique<TesseractRecognition>(settings);
}

}  // namespace pavo::platform::linux_recognition

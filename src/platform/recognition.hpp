#pragma once
// What the agent needs to read a screen image: decode it, recognise its text lines, detect its barcodes.
// Engines are expensive and not thread-safe, so an implementation keeps its own warm workers; callers only
// await the outcome, and the waiting never blocks their thread.

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace pavo::platform {

// A rectangle in unit coordinates of the image: origin at the bottom-left corner, y upwards, 0 to 1.
struct NormalizedRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const NormalizedRect&) const = default;
};

// One recognised text line: its best candidate and that candidate's confidence (0 to 1).
struct TextObservation {
    std::string text;
    float confidence = 0;
    NormalizedRect box;
    bool operator==(const TextObservation&) const = default;
};

struct BarcodeObservation {
    std::optional<std::string> payload;  // nothing when the symbol holds no text
    float confidence = 0;
    NormalizedRect box;
    bool operator==(const BarcodeObservation&) const = default;
};

struct RecognitionRequest {
    bool text = true;
    bool barcodes = false;
};

struct Recognized {
    int width = 0;  // pixels of the decoded image
    int height = 0;
    std::vector<TextObservation> text;
    std::vector<BarcodeObservation> barcodes;
};

enum class RecognitionFailure {
    undecodable,  // not an image this recogniser reads
    failed,       // decoded, but a recogniser could not run
};

using RecognitionOutcome = std::variant<Recognized, RecognitionFailure>;

class Recognition {
  public:
    virtual ~Recognition() = default;

    // Where work that belongs with recognition (reading and hashing large images) runs: never the caller's
    // I/O thread, never the desktop's.
    virtual boost::asio::any_io_executor executor() = 0;

    // Decodes the first image in `bytes` and runs what `request` asks on it, on the recogniser's workers;
    // the caller resumes on its own executor.
    virtual boost::asio::awaitable<RecognitionOutcome> recognize(std::shared_ptr<const std::string> bytes,
                                                                 RecognitionRequest request) = 0;
};

}  // namespace pavo::platform

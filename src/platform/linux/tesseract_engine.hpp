#pragma once
// One warm Tesseract engine. Building one costs about a tenth of a second and it is not thread-safe: each
// recognition worker owns one and only ever calls it from its own thread.

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct Pix;
namespace tesseract {
class TessBaseAPI;
}

namespace pavo::platform::linux_recognition {

// A text line in pixels of the image it was read from: [left, right) x [top, bottom).
struct PixelLine {
    std::string text;
    float confidence = 0;  // 0 to 1
    int left = 0, top = 0, right = 0, bottom = 0;
};

class TesseractEngine {
  public:
    TesseractEngine();  // loads the English model; ready() tells whether that worked
    ~TesseractEngine();
    TesseractEngine(const TesseractEngine&) = delete;
    TesseractEngine& operator=(const TesseractEngine&) = delete;

    bool ready() const { return ready_; }

    // Sends what every engine says about empty pages and the like nowhere (replies say it instead). Call
    // before the first engine is built.
    static void quietAll();

    // The text lines of a grey image, empty for one without text; nothing when the engine failed.
    std::optional<std::vector<PixelLine>> recognize(Pix* grey);

  private:
    std::unique_ptr<tesseract::TessBaseAPI> api_;
    bool ready_ = false;
};

}  // namespace pavo::platform::linux_recognition

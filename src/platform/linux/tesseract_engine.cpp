#include "platform/linux/tesseract_engine.hpp"

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>

#include <algorithm>
#include <mutex>

namespace pavo::platform::linux_recognition {

namespace {

// Screens are read at about 96 dots per inch; saying so also keeps the engine from guessing and warning.
constexpr int kScreenResolution = 96;

std::string trimmedLine(const char* text) {
    std::string line = text ? text : "";
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
    return line;
}

}  // namespace

TesseractEngine::TesseractEngine() : api_(std::make_unique<tesseract::TessBaseAPI>()) {
    ready_ = api_->Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) == 0;
    if (!ready_) return;
    // Screen text is scattered labels, not a page of columns: find every line wherever it is.
    api_->SetPageSegMode(tesseract::PSM_SPARSE_TEXT);
}

void TesseractEngine::quietAll() {
    // A setting of all engines at once (the library keeps it globally), so it is made once, before any
    // engine exists.
    static std::once_flag once;
    std::call_once(once, [] {
        tesseract::TessBaseAPI api;
        api.SetVariable("debug_file", "/dev/null");
    });
}

TesseractEngine::~TesseractEngine() {
    if (api_) api_->End();
}

std::optional<std::vector<PixelLine>> TesseractEngine::recognize(Pix* grey) {
    if (!ready_) return std::nullopt;
    api_->SetImage(grey);
    api_->SetSourceResolution(kScreenResolution);
    if (api_->Recognize(nullptr) != 0) return std::nullopt;

    std::vector<PixelLine> lines;
    std::unique_ptr<tesseract::ResultIterator> it(api_->GetIterator());
    if (!it) return lines;
    constexpr auto kLine = tesseract::RIL_TEXTLINE;
    do {
        std::unique_ptr<char[]> text(it->GetUTF8Text(kLine));
        PixelLine line{trimmedLine(text.get())};
        if (line.text.find_first_not_of(" \n") == std::string::npos) continue;
        if (!it->BoundingBox(kLine, &line.left, &line.top, &line.right, &line.bottom)) continue;
        line.confidence = std::clamp(it->Confidence(kLine) / 100.0f, 0.0f, 1.0f);
        lines.push_back(std::move(line));
    } while (it->Next(kLine));
    api_->Clear();
    return lines;
}

}  // namespace pavo::platform::linux_recognition

#pragma once
// The Linux recogniser: Leptonica decodes, Tesseract reads text lines, ZXing reads barcodes. Each worker is a
// thread with its own warm engine; one image's text is shared by two workers when there are two.

#include <memory>

#include "platform/recognition.hpp"

namespace pavo::platform::linux_recognition {

struct RecognitionSettings {
    int workers = 2;
    // Two workers read the two halves of one image at once; one reads it whole when false.
    bool shareImages = true;
};

// The engines load on their own threads, so this returns at once; a request that comes first waits for them.
std::unique_ptr<Recognition> makeTesseractRecognition(RecognitionSettings settings = {});

}  // namespace pavo::platform::linux_recognition

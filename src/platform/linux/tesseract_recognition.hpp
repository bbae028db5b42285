#pragma once
// The Linux recogniser: Leptonica decodes, Tesseract reads text lines, ZXing reads barcodes. Each worker is a
// thread with its own warm engine. An image is cut into two bands across a row without ink, when it has one
// near the middle, and each band is read on its own: by two workers at once when there are two. The bands
// do not depend on the number of workers, so neither does what is read.

#include <memory>

#include "platform/recognition.hpp"

namespace pavo::platform::linux_recognition {

struct RecognitionSettings {
    int workers = 2;
    // False reads every image whole, to compare with.
    bool cutIntoBands = true;
};

// Returns once every engine has loaded: they load at the same time, each on its worker's thread.
std::unique_ptr<Recognition> makeTesseractRecognition(RecognitionSettings settings = {});

}  // namespace pavo::platform::linux_recognition

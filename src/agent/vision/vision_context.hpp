#pragma once
// What the screen-text feature shares for the life of the process.

#include "platform/desktop.hpp"
#include "platform/recognition.hpp"

namespace pavo::agent {

class OCRCache;

struct VisionContext {
    platform::Desktop& desktop;  // which application is in front, for the OCR cache
    platform::Recognition& recognition;
    OCRCache& ocrCache;
};

}  // namespace pavo::agent

#pragma once
// How one screen image is shared between two text engines: cut across a row without ink near the middle,
// so that no glyph, line or other shape is split between them. Without such a row, one engine reads it all.

#include <vector>

namespace pavo::platform::linux_recognition {

struct TextBand {
    int top = 0;  // rows [top, bottom)
    int bottom = 0;
    bool operator==(const TextBand&) const = default;
};

// `inkPerRow` counts the dark pixels of each row. Two bands when `bands` is 2 or more and a row without ink
// lies in the middle half (the one nearest the middle), else one covering everything.
std::vector<TextBand> planTextBands(const std::vector<int>& inkPerRow, int bands);

}  // namespace pavo::platform::linux_recognition

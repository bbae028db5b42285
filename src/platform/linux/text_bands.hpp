#pragma once
// How one screen image is shared between two text engines: two horizontal bands that overlap around the
// quietest row near the middle, each keeping only the lines whose centre lies on its side of that row. A
// line no taller than the overlap is then seen whole by the band that keeps it, so cutting the image never
// cuts a line.

#include <vector>

namespace pavo::platform::linux_recognition {

struct TextBand {
    int top = 0;  // rows [top, bottom) are recognised
    int bottom = 0;
    int keepTop = 0;  // lines whose centre row lies in [keepTop, keepBottom) are kept
    int keepBottom = 0;
    bool operator==(const TextBand&) const = default;
};

// `inkPerRow` counts the dark pixels of each row. One band covering everything when `bands` is below 2 or
// the image is too short to share; otherwise two.
std::vector<TextBand> planTextBands(const std::vector<int>& inkPerRow, int bands, int overlap);

bool keepsLine(const TextBand& band, int lineTop, int lineBottom);

}  // namespace pavo::platform::linux_recognition

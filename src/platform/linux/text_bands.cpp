#include "platform/linux/text_bands.hpp"

#include <cstdlib>

namespace pavo::platform::linux_recognition {

std::vector<TextBand> planTextBands(const std::vector<int>& inkPerRow, int bands, int overlap) {
    const int height = static_cast<int>(inkPerRow.size());
    if (bands < 2 || overlap < 0 || height < 8 * overlap) return {TextBand{0, height, 0, height}};

    // The quietest row in the middle quarter, the one nearest the middle among equals.
    const int middle = height / 2;
    int cut = middle;
    for (int row = height * 3 / 8; row < height * 5 / 8; ++row) {
        const bool quieter = inkPerRow[row] < inkPerRow[cut];
        const bool nearer =
            inkPerRow[row] == inkPerRow[cut] && std::abs(row - middle) < std::abs(cut - middle);
        if (quieter || nearer) cut = row;
    }
    return {TextBand{0, cut + overlap, 0, cut}, TextBand{cut - overlap, height, cut, height}};
}

bool keepsLine(const TextBand& band, int lineTop, int lineBottom) {
    const int centre = (lineTop + lineBottom) / 2;
    return centre >= band.keepTop && centre < band.keepBottom;
}

}  // namespace pavo::platform::linux_recognition

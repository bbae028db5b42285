#include "platform/linux/text_bands.hpp"

#include <cstdlib>

namespace pavo::platform::linux_recognition {

std::vector<TextBand> planTextBands(const std::vector<int>& inkPerRow, int bands) {
    const int height = static_cast<int>(inkPerRow.size());
    const int middle = height / 2;
    int cut = -1;
    for (int row = height / 4; bands >= 2 && row < height - height / 4; ++row) {
        if (inkPerRow[static_cast<std::size_t>(row)] == 0 &&
            (cut < 0 || std::abs(row - middle) < std::abs(cut - middle)))
            cut = row;
    }
    if (cut <= 0) return {TextBand{0, height}};
    return {TextBand{0, cut}, TextBand{cut, height}};
}

}  // namespace pavo::platform::linux_recognition
